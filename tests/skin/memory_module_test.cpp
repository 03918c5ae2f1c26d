// Loading, import binding, entry-point calls, export look-ups and release of a MemoryModule,
// driven through a recording host.
#include <gtest/gtest.h>

#include "skin/memory_module.h"
#include "skin/pe_format.h"
#include "tests/skin/pe_builder.h"
#include "tests/skin/recording_host.h"

namespace sellmeter::test {
namespace {

constexpr std::uint32_t kKernel = 0x100;
constexpr std::uint32_t kHelper = 0x200;
constexpr std::uint32_t kEntryRva = kDataRva;  // the first bytes of the data section

class MemoryModuleTest : public ::testing::Test {
 protected:
  MemoryModuleTest() {
    host.libraries = {{"KERNEL32.dll", kKernel}, {"helper.dll", kHelper}};
    host.symbols = {{{kKernel, "Sleep"}, 0x7000},
                    {{kKernel, "GetTickCount"}, 0x7200},
                    {{kHelper, "#5"}, 0x7100}};
  }

  // A DLL with an entry point and imports of KERNEL32.dll by name and helper.dll by ordinal.
  PeBuilder WithImports() {
    PeBuilder b;
    b.AppendWords({0xC3C3C3C3});  // stands for the entry code
    b.Put32(kEntryPoint, kEntryRva);
    slots = b.AddImports({{"KERNEL32.dll", {std::string("Sleep"), std::string("GetTickCount")}},
                          {"helper.dll", {std::uint16_t{5}}}});
    return b;
  }

  std::uint32_t Slot(const MemoryModule& m, std::uint32_t rva) {
    return Le32(host.ReservedBlock(m.GetBase()).data() + rva);
  }

  RecordingHost host;
  ScopedModuleHost scoped{host};
  std::vector<std::uint32_t> slots;
};

TEST_F(MemoryModuleTest, BindsImportsByNameAndOrdinalThenAttaches) {
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(WithImports().Build()));
  EXPECT_EQ(m.GetBase(), kPreferredBase);
  EXPECT_EQ(Slot(m, slots[0]), 0x7000u);
  EXPECT_EQ(Slot(m, slots[0] + 4), 0x7200u);
  EXPECT_EQ(Slot(m, slots[0] + 8), 0u);
  EXPECT_EQ(Slot(m, slots[1]), 0x7100u);
  std::vector<std::string> calls;
  for (const std::string& line : host.log) {
    if (line.rfind("VirtualAlloc", 0) != 0 && line.rfind("VirtualFree", 0) != 0) calls.push_back(line);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "LoadLibraryA KERNEL32.dll", "GetProcAddress 0x100 Sleep",
                       "GetProcAddress 0x100 GetTickCount", "LoadLibraryA helper.dll",
                       "GetProcAddress 0x200 #5", "CallAddress 0x10000200 0x0 0x1 0x0"}));
  EXPECT_EQ(m.GetEntryAddress(), kPreferredBase + kEntryRva);
  // Only the image's block stays; the ordinal text's block is gone.
  EXPECT_EQ(host.LiveBlocks(), 1u);
}

TEST_F(MemoryModuleTest, TheResolverIsAskedFirstWithNamesInsideTheImageAndOrdinalsAsText) {
  const std::uint32_t resolver = 0x5000;
  struct Asked {
    std::uint32_t libraryWord, nameWord;
    std::string library, name;
    std::uint32_t user;
  };
  std::vector<Asked> asked;
  host.onCall = [&](std::uint32_t address, const CallWords& w) -> std::uint32_t {
    if (address != resolver) return 1;
    asked.push_back({w[0], w[1], host.TextAt(w[0]), host.TextAt(w[1]), w[2]});
    for (std::size_t i = 3; i < w.size(); ++i) EXPECT_EQ(w[i], 0u);
    if (host.TextAt(w[1]) == "5") return 0x9100;  // supplied: GetProcAddress is not asked
    return 0;                                     // left to GetProcAddress
  };
  PeBuilder b = WithImports();
  const ByteArray image = b.Build();
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(image, resolver, 77));
  ASSERT_EQ(asked.size(), 3u);
  const std::uint32_t base = m.GetBase();
  EXPECT_EQ(asked[0].library, "KERNEL32.dll");
  EXPECT_EQ(asked[0].name, "Sleep");
  // Both words point into the mapped image: the library name and the name behind the hint.
  EXPECT_EQ(asked[0].nameWord, base + b.Get32(slots[0]) + 2);
  EXPECT_EQ(asked[0].libraryWord, base + b.Get32(b.Get32(DirectoryAt(1)) + 12));
  EXPECT_EQ(asked[2].library, "helper.dll");
  EXPECT_EQ(asked[2].name, "5");
  EXPECT_EQ(asked[2].user, 77u);
  EXPECT_EQ(Slot(m, slots[0]), 0x7000u);
  EXPECT_EQ(Slot(m, slots[1]), 0x9100u);
  EXPECT_TRUE(host.Logged("GetProcAddress 0x200").empty());
}

TEST_F(MemoryModuleTest, AnUnresolvedImportFailsTheLoadBeforeTheEntryPointRuns) {
  host.symbols.erase({kHelper, "#5"});
  MemoryModule m;
  EXPECT_FALSE(m.LoadFromMemory(WithImports().Build()));
  EXPECT_EQ(m.GetBase(), 0u);
  EXPECT_EQ(host.LiveBlocks(), 0u);
  EXPECT_TRUE(host.Logged("CallAddress").empty());
  EXPECT_EQ(host.Logged("LoadLibraryA").size(), 2u);
}

TEST_F(MemoryModuleTest, ADescriptorWithoutAddressTableEndsBinding) {
  PeBuilder b;
  const std::uint32_t name = b.AppendText("KERNEL32.dll");
  b.AddImports({{"helper.dll", {std::uint16_t{5}}}});
  // Put a descriptor with a Name but FirstThunk 0 in front of the real one.
  const std::uint32_t run = b.AppendWords({0, 0, 0, name, 0, 0, 0, 0, name, 0x1234});
  b.SetDirectory(1, run, 40);
  b.Put16(kCharacteristics, 0x0102);  // no DLL: nothing to call
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(b.Build()));
  EXPECT_TRUE(host.Logged("LoadLibraryA").empty());
}

TEST_F(MemoryModuleTest, ImportTablesOutsideTheImageFailTheLoad) {
  auto build = [](auto change) {
    PeBuilder b;
    b.Put16(kCharacteristics, 0x0102);
    const std::uint32_t name = b.AppendText("KERNEL32.dll");
    const std::uint32_t hint = b.Append({0, 0, 'S', 'l', 'e', 'e', 'p', 0});
    const std::uint32_t table = b.AppendWords({hint, 0});
    const std::uint32_t runAt = b.AppendWords(std::vector<std::uint32_t>(10, 0));
    std::vector<std::uint32_t> run = {0, 0, 0, name, table, 0, 0, 0, 0, 0};
    change(b, run);
    for (std::uint32_t i = 0; i < run.size(); ++i) b.Put32(runAt + 4 * i, run[i]);
    b.SetDirectory(1, runAt, 40);
    return b.Build();
  };
  const struct {
    const char* what;
    ByteArray image;
  } cases[] = {
      {"library name outside", build([](PeBuilder&, auto& run) { run[3] = 0x7FFFFFF0; })},
      {"address table outside", build([](PeBuilder&, auto& run) { run[4] = 0xFFFFFFFE; })},
      {"hint and name outside", build([](PeBuilder& b, auto& run) { run[4] = b.AppendWords({0x7FFFFFF0, 0}); })},
      {"address table runs off the image", build([](PeBuilder& b, auto& run) {
         b.PadTo(0x3FC);
         run[4] = b.AppendWords({b.Get32(run[4])});  // one slot at the image end, no 0 after it
       })},
      {"name without a terminator", build([](PeBuilder& b, auto& run) {
         b.PadTo(0x3F8);
         run[3] = b.Append({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});  // ends at the image end
       })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryModule m;
    EXPECT_FALSE(m.LoadFromMemory(c.image));
    EXPECT_EQ(host.LiveBlocks(), 0u);
  }
  // A descriptor run reaching past the image fails too.
  PeBuilder b;
  b.Put16(kCharacteristics, 0x0102);
  b.SetDirectory(1, 0x1F0, 20);
  MemoryModule m;
  EXPECT_FALSE(m.LoadFromMemory(b.Build()));
}

TEST_F(MemoryModuleTest, AnEntryPointRefusingAttachIsDetachedAndReleased) {
  host.onCall = [](std::uint32_t, const CallWords& w) { return w[1] == kDllProcessAttach ? 0u : 1u; };
  MemoryModule m;
  EXPECT_FALSE(m.LoadFromMemory(WithImports().Build()));
  EXPECT_EQ(host.Logged("CallAddress"),
            (std::vector<std::string>{"CallAddress 0x10000200 0x0 0x1 0x0",
                                      "CallAddress 0x10000200 0x0 0x0 0x0"}));
  EXPECT_EQ(host.LiveBlocks(), 0u);
  EXPECT_EQ(m.GetBase(), 0u);
  EXPECT_EQ(m.GetEntryAddress(), 0u);
}

TEST_F(MemoryModuleTest, EntryPointRules) {
  struct Case {
    const char* what;
    std::uint16_t characteristics;
    std::uint32_t entryRva;
    bool loads;
    std::size_t calls;
  };
  for (const Case& c : {Case{"no DLL flag: nothing runs", 0x0102, kEntryRva, true, 0},
                        Case{"entry RVA 0: no entry point", kExecutableDll, 0, true, 0},
                        Case{"entry outside the image", kExecutableDll, 0x100000, false, 0}}) {
    SCOPED_TRACE(c.what);
    host.log.clear();
    PeBuilder b;
    b.Put16(kCharacteristics, c.characteristics);
    b.Put32(kEntryPoint, c.entryRva);
    b.AddExports(1, {kDataRva}, {{"Run", 0}});
    MemoryModule m;
    EXPECT_EQ(m.LoadFromMemory(b.Build()), c.loads);
    EXPECT_EQ(host.Logged("CallAddress").size(), c.calls);
    if (c.loads) {
      EXPECT_EQ(m.GetExport("Run"), kPreferredBase + kDataRva);
      EXPECT_TRUE(m.Free());
      EXPECT_EQ(host.Logged("CallAddress").size(), c.calls);
    }
    EXPECT_EQ(host.LiveBlocks(), 0u);
  }
}

TEST_F(MemoryModuleTest, ReloadingFreesTheHeldModuleFirst) {
  const ByteArray image = WithImports().Build();
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(image));
  host.log.clear();
  ASSERT_TRUE(m.LoadFromMemory(image));
  EXPECT_EQ(m.GetBase(), kPreferredBase);  // the old block was gone before the new one was asked for
  ASSERT_GE(host.log.size(), 3u);
  EXPECT_EQ(host.log[0], "CallAddress 0x10000200 0x0 0x0 0x0");
  EXPECT_EQ(host.log[1], "VirtualFree 0x10000000 0x0 0x8000");
  EXPECT_EQ(host.log[2].rfind("VirtualAlloc 0x10000000", 0), 0u);
  EXPECT_EQ(host.log.back(), "CallAddress 0x10000200 0x0 0x1 0x0");

  // A failing reload leaves the object empty.
  host.refuseAll = true;
  EXPECT_FALSE(m.LoadFromMemory(image));
  EXPECT_EQ(m.GetBase(), 0u);
  EXPECT_EQ(host.LiveBlocks(), 0u);
}

TEST_F(MemoryModuleTest, FreeRules) {
  MemoryModule empty;
  EXPECT_TRUE(empty.Free());
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(empty.GetExport("Sleep"), 0u);
  EXPECT_EQ(empty.GetEntryAddress(), 0u);

  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(WithImports().Build()));
  // Headers without their signatures are not released; the object keeps its base.
  std::span<std::uint8_t> block = host.ReservedBlock(m.GetBase());
  block[kNt] = 'X';
  host.log.clear();
  EXPECT_FALSE(m.Free());
  EXPECT_EQ(m.GetBase(), kPreferredBase);
  EXPECT_TRUE(host.log.empty());
  block[kNt] = 'P';
  EXPECT_TRUE(m.Free());
  EXPECT_EQ(m.GetBase(), 0u);
  EXPECT_EQ(host.log, (std::vector<std::string>{"CallAddress 0x10000200 0x0 0x0 0x0",
                                                "VirtualFree 0x10000000 0x0 0x8000"}));
  EXPECT_EQ(host.LiveBlocks(), 0u);
}

TEST_F(MemoryModuleTest, DestroyingAndCopyingLeaveTheModuleAlone) {
  std::uint32_t base = 0;
  {
    MemoryModule m;
    ASSERT_TRUE(m.LoadFromMemory(WithImports().Build()));
    MemoryModule copy(m);
    EXPECT_EQ(copy.GetBase(), m.GetBase());
    base = m.GetBase();
    host.log.clear();
  }
  EXPECT_TRUE(host.log.empty());
  EXPECT_FALSE(host.ReservedBlock(base).empty());
}

class ExportTest : public MemoryModuleTest {
 protected:
  void SetUp() override {
    PeBuilder b;
    b.Put16(kCharacteristics, 0x0102);
    // Ten functions, ordinals 1 to 10; the third has RVA 0.
    b.AddExports(1, {0x300, 0x310, 0, 0x330, 0x340, 0x350, 0x360, 0x370, 0x380, 0x390},
                 {{"SkinH_AttachRes", 0}, {"SkinH_SetAero", 1}, {"Dup", 2}, {"Dup", 3},
                  {"012", 4}, {"+1", 7}, {"-0", 8}, {" 1", 9}, {"Bad", 99}, {"Last", 6}});
    b.PadTo(0x400);
    image = b.Build();
    ASSERT_TRUE(m.LoadFromMemory(image));
  }
  ByteArray image;
  MemoryModule m;
};

TEST_F(ExportTest, FindsExportsByNameOrOrdinal) {
  const std::uint32_t base = m.GetBase();
  const struct {
    const char* request;
    std::uint32_t rva;  // 0: not found
  } cases[] = {
      {"SkinH_AttachRes", 0x300}, {"skinh_attachres", 0}, {"SkinH_SetAero", 0x310},
      {"Last", 0x360},              // the last name: the names are walked one after another
      {"Dup", 0x330},               // the first match has RVA 0 and does not end the search
      {"Missing", 0}, {"Bad", 0},   // index beyond the function table
      {"1", 0x300}, {"6", 0x350}, {"10", 0x390},
      {"11", 0},                    // Base + NumberOfFunctions
      {"3", 0},                     // RVA 0
      {"0", 0}, {"-3", 0}, {"-2147483648", 0},
      {"012", 0x340}, {"+1", 0x370}, {"-0", 0x380}, {" 1", 0x390},  // names, not ordinals
      {"2147483648", 0}, {"", 0}, {"-", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(m.GetExport(c.request), c.rva == 0 ? 0 : base + c.rva);
  }
}

TEST_F(ExportTest, OrdinalsAreComparedWithAnUnsignedBase) {
  PeBuilder b;
  b.Put16(kCharacteristics, 0x0102);
  b.AddExports(0xFFFFFFFEu, {0x300}, {});
  ASSERT_TRUE(m.LoadFromMemory(b.Build()));
  // Base 0xFFFFFFFE is no negative number: the ordinal -2 lies below it.
  EXPECT_EQ(m.GetExport("-2"), 0u);
  EXPECT_EQ(m.GetExport("4294967294"), 0u);  // beyond 32-bit signed: a name
}

TEST_F(ExportTest, BrokenHeadersOrTablesGiveZero) {
  std::span<std::uint8_t> block = host.ReservedBlock(m.GetBase());
  const std::uint32_t dir = Le32(block.data() + DirectoryAt(0));
  auto check = [&](const char* what, std::uint32_t at, std::uint32_t value, const char* request) {
    SCOPED_TRACE(what);
    const std::uint32_t old = Le32(block.data() + at);
    PutLe32(block.data() + at, value);
    EXPECT_EQ(m.GetExport(request), 0u);
    PutLe32(block.data() + at, old);
    EXPECT_NE(m.GetExport(request), 0u);
  };
  check("no MZ", 0, 0x905A4E, "Last");
  check("no PE", kNt, 0x4551, "Last");
  check("export directory size 0", DirectoryAt(0) + 4, 0, "Last");
  check("export directory outside", DirectoryAt(0), 0x7FFFFFF0, "1");
  check("function table outside", dir + 28, 0xFFFFFF00u, "1");
  check("function RVA outside", Le32(block.data() + dir + 28), 0x10000, "1");
  check("name table outside", dir + 32, 0xFFFFFFF0u, "Last");
  check("ordinal table outside", dir + 36, 0x7FFFFFF0, "Last");
  // A name walk that meets no terminator inside the image.
  const std::uint32_t names = Le32(block.data() + dir + 32);
  for (std::size_t i = block.size() - 4; i < block.size(); ++i) block[i] = 'x';
  check("names without terminator", names, static_cast<std::uint32_t>(block.size() - 4), "Last");
}

TEST_F(MemoryModuleTest, CallAddressPassesAllTenWords) {
  CallWords seen{};
  host.onCall = [&](std::uint32_t, const CallWords& w) {
    seen = w;
    return 0xFFFFFFFFu;
  };
  EXPECT_EQ(CallAddress(0x1234, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10), 0xFFFFFFFFu);
  EXPECT_EQ(seen, (CallWords{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  CallAddress(0x1234, 255);
  EXPECT_EQ(seen, (CallWords{255, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace sellmeter::test
