// Conversion throughput on synthetic 5 MB report pages: one mostly markup (ASCII with short
// GBK titles), one mostly Chinese text. Bytes processed are the GBK page's bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "text/codepage.h"

namespace sellmeter {
namespace {

constexpr std::size_t kPageSize = 5 * 1024 * 1024;

// A random GB2312 hanzi: lead B0-D7, trail A1-FE (D7FA-D7FE are unassigned).
void AppendHanzi(Text& out, std::mt19937& rng, int count) {
  for (int i = 0; i < count; ++i) {
    const int lead = 0xB0 + static_cast<int>(rng() % 40);
    const int trail = 0xA1 + static_cast<int>(rng() % (lead == 0xD7 ? 89 : 94));
    out.push_back(static_cast<char>(lead));
    out.push_back(static_cast<char>(trail));
  }
}

// About 5 KB of table markup per product with a 20-character title, as the report pages have.
Text MarkupPage() {
  std::mt19937 rng(1);
  Text page = "<html><head><meta charset=gbk><title>report</title></head><body><table>\r\n";
  int product = 0;
  while (page.size() < kPageSize) {
    page += "<tr class=\"row\"><td><img src=\"http://img.example.com/pic/" + std::to_string(product++) +
            ".jpg\" width=60 height=60></td>\r\n<td><a href=\"http://item.example.com/item.htm?id=" +
            std::to_string(rng()) + "\" target=\"_blank\">";
    AppendHanzi(page, rng, 20);
    page += "</a></td>\r\n<td>128.00</td><td>99.00</td><td>1234</td><td>567</td><td>122166.00</td></tr>\r\n";
    for (int filler = 0; filler < 40; ++filler)
      page += "<tr><td class=\"spacer\" style=\"height:1px;padding:0;border:0\">&nbsp;</td></tr>\r\n";
  }
  page.resize(kPageSize);
  return page;
}

Text HanziPage() {
  std::mt19937 rng(2);
  Text page;
  while (page.size() < kPageSize) {
    AppendHanzi(page, rng, 60);
    page += "<br>\r\n";
  }
  page.resize(kPageSize - 2);  // never cut a character
  return page;
}

const Text& Page(int which) {
  static const Text markup = MarkupPage();
  static const Text hanzi = HanziPage();
  return which == 0 ? markup : hanzi;
}

void Label(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "markup" : "hanzi");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page(static_cast<int>(state.range(0))).size()));
}

void BM_TextToU16(benchmark::State& state) {
  const Text& page = Page(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(TextToU16(page));
  Label(state);
}

void BM_U16ToText(benchmark::State& state) {
  const std::u16string wide = TextToU16(Page(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(U16ToText(wide));
  Label(state);
}

void BM_GbkToWide(benchmark::State& state) {
  const Text& page = Page(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(GbkToWide(page));
  Label(state);
}

void BM_WideToGbk(benchmark::State& state) {
  const ByteArray wide = GbkToWide(Page(static_cast<int>(state.range(0))), true);
  for (auto _ : state) benchmark::DoNotOptimize(WideToGbk(wide));
  Label(state);
}

void BM_GbkToUtf8(benchmark::State& state) {
  const Text& page = Page(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(GbkToUtf8(page));
  Label(state);
}

BENCHMARK(BM_TextToU16)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_U16ToText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GbkToWide)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WideToGbk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GbkToUtf8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sellmeter

BENCHMARK_MAIN();
