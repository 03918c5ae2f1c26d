// Loader figures: mapping, relocating and binding a 90 KB image with 2,000 relocations and 200
// imports on the mmap host; export look-ups by name over 1,500 exports (a linear walk).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "skin/mapped_image.h"
#include "skin/memory_module.h"
#include "skin/module_host.h"
#include "tests/skin/pe_builder.h"

namespace sellmeter {
namespace {

using test::PeBuilder;

// Platform memory; every library and symbol is supplied and every call answers 1, so what is
// measured is the loader's own work plus the mmap host.
class BenchHost final : public ModuleHost {
 public:
  std::uint32_t VirtualAlloc(std::uint32_t a, std::uint32_t s, std::uint32_t t, std::uint32_t p) override {
    return platform_.VirtualAlloc(a, s, t, p);
  }
  bool VirtualFree(std::uint32_t a, std::uint32_t s, std::uint32_t t) override {
    return platform_.VirtualFree(a, s, t);
  }
  std::span<std::uint8_t> ReservedBlock(std::uint32_t base) override {
    return platform_.ReservedBlock(base);
  }
  std::uint32_t LoadLibraryA(const char*) override { return 0x1000; }
  std::uint32_t GetProcAddress(std::uint32_t, ProcKey) override { return 0x2000; }
  std::uint32_t CallAddress(std::uint32_t, const CallWords&) override { return 1; }

 private:
  ModuleHost& platform_ = PlatformModuleHost();
};

BenchHost benchHost;

// 90 KB: 200 imports by name from four libraries, 2,000 HIGHLOW relocations over two pages.
ByteArray LargeImage() {
  PeBuilder b;
  b.Put32(test::kEntryPoint, test::kDataRva);
  b.PadTo(0x1000);
  std::vector<std::uint32_t> words(2000);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = test::kPreferredBase + 4 * static_cast<std::uint32_t>(i);
  b.AppendWords(words);
  std::vector<std::uint16_t> page1, page2;
  for (std::uint16_t i = 0; i < 1024; ++i) page1.push_back(static_cast<std::uint16_t>(0x3000 | (4 * i)));
  for (std::uint16_t i = 0; i < 976; ++i) page2.push_back(static_cast<std::uint16_t>(0x3000 | (4 * i)));
  b.AddRelocations({{0x1000, page1}, {0x2000, page2}});
  std::vector<std::pair<std::string, std::vector<test::ImportItem>>> libraries;
  for (int lib = 0; lib < 4; ++lib) {
    std::vector<test::ImportItem> items;
    for (int i = 0; i < 50; ++i) items.emplace_back("ImportedFunctionNumber" + std::to_string(lib * 50 + i));
    libraries.emplace_back("LIBRARY" + std::to_string(lib) + ".dll", items);
  }
  b.AddImports(libraries);
  b.PadTo(90 * 1024);
  return b.Build();
}

ByteArray ManyExports(int count) {
  PeBuilder b;
  b.Put16(test::kCharacteristics, 0x0102);
  std::vector<std::uint32_t> rvas;
  std::vector<test::ExportName> names;
  for (int i = 0; i < count; ++i) {
    rvas.push_back(0x200 + static_cast<std::uint32_t>(i));
    char name[32];
    std::snprintf(name, sizeof name, "SkinH_Export%04d", i);
    names.push_back({name, static_cast<std::uint16_t>(i)});
  }
  b.AddExports(1, rvas, names);
  return b.Build();
}

void BM_MapImage(benchmark::State& state) {
  ScopedModuleHost scoped(benchHost);
  const ByteArray image = LargeImage();
  // Away from the preferred base, so every relocation changes its word.
  const std::uint32_t blocker = benchHost.VirtualAlloc(test::kPreferredBase, 0x1000, 0x3000, 0x40);
  for (auto _ : state) {
    std::optional<MappedImage> m = MapImage(image);
    if (!m) state.SkipWithError("mapping failed");
    benchHost.VirtualFree(m->base, 0, kMemRelease);
  }
  benchHost.VirtualFree(blocker, 0, kMemRelease);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_MapImage);

void BM_LoadFromMemory(benchmark::State& state) {
  ScopedModuleHost scoped(benchHost);
  const ByteArray image = LargeImage();
  const std::uint32_t blocker = benchHost.VirtualAlloc(test::kPreferredBase, 0x1000, 0x3000, 0x40);
  MemoryModule m;
  for (auto _ : state) {
    if (!m.LoadFromMemory(image)) state.SkipWithError("load failed");
    m.Free();
  }
  benchHost.VirtualFree(blocker, 0, kMemRelease);
}
BENCHMARK(BM_LoadFromMemory);

class ExportFixture {
 public:
  ExportFixture() : scoped_(benchHost) {
    image_ = ManyExports(1500);
    module.LoadFromMemory(image_);
    for (int i = 0; i < 1500; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "SkinH_Export%04d", i);
      names.push_back(name);
    }
  }
  ~ExportFixture() { module.Free(); }
  MemoryModule module;
  std::vector<Text> names;

 private:
  ScopedModuleHost scoped_;
  ByteArray image_;
};

// 1,000,000 look-ups cycling over all 1,500 names: on average 750 names are walked.
void BM_GetExportByName(benchmark::State& state) {
  ExportFixture f;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.module.GetExport(f.names[i]));
    if (++i == f.names.size()) i = 0;
  }
  state.counters["names_walked_per_lookup"] = 750.5;
}
BENCHMARK(BM_GetExportByName)->Iterations(1000000);

void BM_GetExportLastName(benchmark::State& state) {
  ExportFixture f;
  for (auto _ : state) benchmark::DoNotOptimize(f.module.GetExport(f.names.back()));
}
BENCHMARK(BM_GetExportLastName);

void BM_GetExportByOrdinal(benchmark::State& state) {
  ExportFixture f;
  for (auto _ : state) benchmark::DoNotOptimize(f.module.GetExport("1500"));
}
BENCHMARK(BM_GetExportByOrdinal);

}  // namespace
}  // namespace sellmeter

BENCHMARK_MAIN();
