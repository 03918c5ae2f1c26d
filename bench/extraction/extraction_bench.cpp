// Report extraction from the GBK page to rows, against raw PCRE2-JIT running the same two
// patterns over the same page already in UTF-16.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "query/report_extraction.h"
#include "regex/linux/pcre2_regexp.h"
#include "report_pages.h"
#include "text/codepage.h"

// Heap accounting for the peak-memory figures: every operator new of the process. GCC pairs
// the replaced operators with malloc/free at inlined call sites and warns wrongly.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapPeak{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size + 16);
  if (!p) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  std::size_t now = heapNow += size;
  std::size_t peak = heapPeak.load();
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  void* base = static_cast<char*>(p) - 16;
  heapNow -= *static_cast<std::size_t*>(base);
  std::free(base);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace sellmeter::bench {
namespace {

enum Kind { kRealistic, kShortBlocks, kOpenCells };
const char* const kKindNames[] = {"realistic", "short_blocks", "open_cells"};

const Text& PageOf(Kind kind, std::size_t bytes) {
  static std::map<std::pair<int, std::size_t>, Text> pages;
  Text& page = pages[{kind, bytes}];
  if (page.empty()) {
    page = kind == kRealistic ? RealisticPage(bytes) : kind == kShortBlocks ? ShortBlocksPage(bytes) : OpenCellsPage(bytes);
  }
  return page;
}

std::size_t Extract(const Text& page, bool& summary) {
  RegexObject summaryRegex;
  RegexObject rowRegex;
  summary = ExtractSummary(page, summaryRegex).has_value();
  std::vector<ReportRow> rows = ExtractRows(page, rowRegex);
  benchmark::DoNotOptimize(rows.data());
  return rows.size();
}

void BM_Extraction(benchmark::State& state, Kind kind, std::size_t bytes) {
  const Text& page = PageOf(kind, bytes);
  std::size_t rows = 0;
  bool summary = false;
  const std::size_t before = heapNow.load();
  heapPeak = before;
  for (auto _ : state) rows = Extract(page, summary);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["summary"] = summary;
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  // Heap held at the peak of one extraction, beyond the caller's page, in page sizes.
  state.counters["peak_x_page"] = static_cast<double>(heapPeak.load() - before) / static_cast<double>(page.size());
}

struct RawPattern {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* stack = nullptr;

  explicit RawPattern(std::string_view pattern) {
    std::u16string source(pattern.begin(), pattern.end());
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_compile_context* compile = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(compile, PCRE2_NEWLINE_LF);
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                         PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &offset, compile);
    pcre2_compile_context_free(compile);
    if (!code || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) std::abort();
    data = pcre2_match_data_create_from_pattern(code, nullptr);
    context = pcre2_match_context_create(nullptr);
    stack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
    pcre2_jit_stack_assign(context, nullptr, stack);
  }
  ~RawPattern() {
    pcre2_jit_stack_free(stack);
    pcre2_match_context_free(context);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
  }

  // Matches over the whole subject, the UTF-16 check made by the first call only.
  long Count(const std::u16string& subject) {
    long count = 0;
    PCRE2_SIZE start = 0;
    uint32_t options = 0;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    while (start <= subject.size()) {
      int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start, options, data, context);
      options = PCRE2_NO_UTF_CHECK;
      if (rc < 0) break;
      ++count;
      start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    return count;
  }
};

void BM_RawPcre2Jit(benchmark::State& state, Kind kind, std::size_t bytes) {
  const Text& page = PageOf(kind, bytes);
  const std::u16string wide = TextToU16(page, kCpAcp);
  RawPattern summary(SummaryPattern);
  RawPattern rows(ProductRowPattern);
  long summaries = 0, products = 0;
  for (auto _ : state) {
    summaries = summary.Count(wide);
    products = rows.Count(wide);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["rows"] = static_cast<double>(products);
  state.counters["summary"] = summaries == 4;
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
}

// The parts of the extraction's cost outside the searches.
void BM_PageToUtf16(benchmark::State& state, Kind kind, std::size_t bytes) {
  const Text& page = PageOf(kind, bytes);
  for (auto _ : state) benchmark::DoNotOptimize(TextToU16(page, kCpAcp).data());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void Register() {
  struct Case {
    Kind kind;
    std::size_t bytes;
    const char* size;
  };
  const Case cases[] = {{kRealistic, 500'000, "0.5MB"},    {kRealistic, 5'000'000, "5MB"},
                        {kRealistic, 50'000'000, "50MB"},  {kShortBlocks, 5'000'000, "5MB"},
                        {kOpenCells, 5'000'000, "5MB"}};
  for (const Case& c : cases) {
    const std::string suffix = std::string("/") + kKindNames[c.kind] + "/" + c.size;
    benchmark::RegisterBenchmark(("Extraction" + suffix).c_str(), BM_Extraction, c.kind, c.bytes)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("RawPcre2Jit" + suffix).c_str(), BM_RawPcre2Jit, c.kind, c.bytes)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("PageToUtf16" + suffix).c_str(), BM_PageToUtf16, c.kind, c.bytes)->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace sellmeter::bench

int main(int argc, char** argv) {
  // By default the heap keeps freed pages, so each iteration measures the work of one
  // extraction rather than the kernel re-faulting the pages glibc trimmed after the last one;
  // --default-malloc leaves glibc's trimming on (the cost a first query in a process pays).
  bool defaultMalloc = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--default-malloc") == 0) {
      defaultMalloc = true;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  }
  if (!defaultMalloc) {
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
  }
  sellmeter::bench::Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
