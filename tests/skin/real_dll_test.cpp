// Real 32-bit DLLs from sample_dll.c, built by the cross toolchain, checked against what the
// toolchain's objdump lists for them: relocations, imports in table order, every export.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>

#include "skin/mapped_image.h"
#include "skin/memory_module.h"
#include "tests/skin/recording_host.h"

namespace sellmeter::test {
namespace {

struct ListedExport {
  std::uint32_t ordinal, rva;
  std::string name;  // empty: exported by ordinal only
};

struct ListedImport {
  std::string library;
  std::string name;  // empty: by ordinal
  std::uint32_t ordinal;
};

struct Listing {
  std::uint32_t imageBase = 0;
  std::vector<ListedExport> exports;
  std::vector<std::uint32_t> highLow;  // RVAs of HIGHLOW relocations
  std::vector<ListedImport> imports;
  std::vector<std::uint32_t> firstThunks;  // per library, in table order
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads the parts of `objdump -p` output the tests compare with.
Listing ParseObjdump(const std::string& text) {
  Listing l;
  const std::regex imageBase(R"(^ImageBase\s+([0-9a-fA-F]+))");
  const std::regex ordinalBase(R"(Ordinal Base (\d+))");
  const std::regex address(R"(^\s*\[\s*(\d+)\] \+base\[\s*(\d+)\] ([0-9a-f]+) Export RVA)");
  const std::regex namePointer(R"(^\s*\[\s*(\d+)\] (\S+)\s*$)");
  const std::regex reloc(R"(reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] HIGHLOW)");
  const std::regex descriptor(
      R"(^ ([0-9a-f]{8})\t([0-9a-f]{8}) ([0-9a-f]{8}) ([0-9a-f]{8}) ([0-9a-f]{8}) ([0-9a-f]{8}))");
  const std::regex library(R"(DLL Name: (\S+))");
  const std::regex member(R"(^\t([0-9a-f]+)\t\s*(\d+)\s+(\S+))");
  std::uint32_t base = 0;
  bool inNames = false;
  std::string currentLibrary;
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  auto hex = [](const std::string& s) { return static_cast<std::uint32_t>(std::stoul(s, nullptr, 16)); };
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, imageBase)) {
      l.imageBase = hex(m[1]);
    } else if (std::regex_search(line, m, ordinalBase)) {
      base = static_cast<std::uint32_t>(std::stoul(m[1]));
    } else if (std::regex_search(line, m, address)) {
      l.exports.push_back({static_cast<std::uint32_t>(std::stoul(m[2])), hex(m[3]), ""});
    } else if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
      inNames = true;
    } else if (inNames && std::regex_search(line, m, namePointer)) {
      const std::uint32_t ordinal = static_cast<std::uint32_t>(std::stoul(m[1])) + base;
      for (ListedExport& e : l.exports) {
        if (e.ordinal == ordinal) e.name = m[2];
      }
    } else if (std::regex_search(line, m, reloc)) {
      l.highLow.push_back(hex(m[1]));
    } else if (std::regex_search(line, m, descriptor)) {
      if (hex(m[6]) != 0) l.firstThunks.push_back(hex(m[6]));
    } else if (std::regex_search(line, m, library)) {
      currentLibrary = m[1];
    } else if (!currentLibrary.empty() && std::regex_search(line, m, member)) {
      const bool byOrdinal = m[3] == "<none>";
      l.imports.push_back({currentLibrary, byOrdinal ? "" : std::string(m[3]),
                           static_cast<std::uint32_t>(std::stoul(m[2]))});
    }
    if (line.empty()) inNames = false;
  }
  return l;
}

class RealDllTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string dir = SELLMETER_SAMPLE_DLLS;
    if (dir.empty()) {
      GTEST_SKIP() << "i686-w64-mingw32-gcc, -dlltool or -objdump not found at configure time: "
                      "install gcc-mingw-w64-i686 and binutils-mingw-w64-i686 to build the "
                      "sample DLLs";
    }
    const std::string path = dir + "/" + GetParam() + ".dll";
    const std::string bytes = ReadText(path);
    ASSERT_FALSE(bytes.empty()) << path;
    image.assign(bytes.begin(), bytes.end());
    listing = ParseObjdump(ReadText(path + ".objdump"));
    // The listing must hold what the sample source puts in, or the comparisons prove nothing.
    ASSERT_NE(listing.imageBase, 0u);
    ASSERT_EQ(listing.exports.size(), 5u);
    ASSERT_EQ(listing.imports.size(), 4u);
    ASSERT_EQ(listing.firstThunks.size(), 2u);
    ASSERT_GE(listing.highLow.size(), 6u);

    host.libraries = {{"KERNEL32.dll", 0x100}, {"helper.dll", 0x200}};
    std::uint32_t next = 0x70000000;
    for (const ListedImport& i : listing.imports) {
      const std::string key = i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name;
      supplied.push_back(next);
      host.symbols[{host.libraries[i.library], key}] = next;
      next += 0x10;
    }
  }

  ByteArray image;
  Listing listing;
  RecordingHost host;
  ScopedModuleHost scoped{host};
  std::vector<std::uint32_t> supplied;  // per listed import
};

TEST_P(RealDllTest, RelocatesEveryHighLowWordAwayFromThePreferredBase) {
  std::optional<MappedImage> home = MapImage(image);
  ASSERT_TRUE(home.has_value());
  ASSERT_EQ(home->base, listing.imageBase);
  host.taken.insert(listing.imageBase);
  std::optional<MappedImage> moved = MapImage(image);
  ASSERT_TRUE(moved.has_value());
  ASSERT_NE(moved->base, listing.imageBase);
  ASSERT_EQ(moved->size, home->size);
  const std::uint32_t delta = moved->base - listing.imageBase;

  std::span<std::uint8_t> atHome = host.ReservedBlock(home->base);
  std::span<std::uint8_t> away = host.ReservedBlock(moved->base);
  // At the preferred base each section holds its raw data unchanged.
  for (const IMAGE_SECTION_HEADER& s : home->sections) {
    if (s.SizeOfRawData == 0) continue;
    EXPECT_EQ(0, std::memcmp(atHome.data() + s.VirtualAddress, image.data() + s.PointerToRawData,
                             s.SizeOfRawData));
  }
  ByteArray expected(atHome.begin(), atHome.end());
  for (std::uint32_t rva : listing.highLow) {
    PutLe32(expected.data() + rva, Le32(atHome.data() + rva) + delta);
  }
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), away.begin(), away.end()));
}

TEST_P(RealDllTest, BindsEveryImportInTableOrderAndAttaches) {
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(image));
  std::vector<std::string> asked;
  for (const ListedImport& i : listing.imports) {
    asked.push_back("GetProcAddress " + Hex(host.libraries[i.library]) + " " +
                    (i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name));
  }
  EXPECT_EQ(host.Logged("GetProcAddress"), asked);
  std::span<std::uint8_t> block = host.ReservedBlock(m.GetBase());
  std::size_t k = 0;
  for (std::size_t lib = 0; lib < listing.firstThunks.size(); ++lib) {
    for (std::uint32_t slot = listing.firstThunks[lib];; slot += 4) {
      const std::uint32_t word = Le32(block.data() + slot);
      if (word == 0) break;
      ASSERT_LT(k, supplied.size());
      EXPECT_EQ(word, supplied[k++]);
    }
  }
  EXPECT_EQ(k, supplied.size());
  const std::uint32_t entry = m.GetEntryAddress();
  EXPECT_EQ(host.Logged("CallAddress"),
            std::vector<std::string>{"CallAddress " + Hex(entry) + " 0x0 0x1 0x0"});
  EXPECT_TRUE(m.Free());
  EXPECT_EQ(host.Logged("CallAddress").back(), "CallAddress " + Hex(entry) + " 0x0 0x0 0x0");
}

TEST_P(RealDllTest, FindsEveryListedExportByNameAndByOrdinal) {
  host.taken.insert(listing.imageBase);
  MemoryModule m;
  ASSERT_TRUE(m.LoadFromMemory(image));
  const std::uint32_t base = m.GetBase();
  ASSERT_NE(base, listing.imageBase);
  std::size_t unnamed = 0;
  std::uint32_t highest = 0;
  for (const ListedExport& e : listing.exports) {
    SCOPED_TRACE(e.ordinal);
    EXPECT_EQ(m.GetExport(std::to_string(e.ordinal)), base + e.rva);
    if (e.name.empty()) {
      ++unnamed;
    } else {
      EXPECT_EQ(m.GetExport(e.name), base + e.rva) << e.name;
    }
    highest = std::max(highest, e.ordinal);
  }
  EXPECT_EQ(unnamed, 1u);
  // Ordinals the table leaves empty, and the one past its end, give 0.
  for (std::uint32_t ordinal = 0; ordinal <= highest + 1; ++ordinal) {
    bool listed = false;
    for (const ListedExport& e : listing.exports) listed = listed || e.ordinal == ordinal;
    if (!listed) {
      EXPECT_EQ(m.GetExport(std::to_string(ordinal)), 0u) << ordinal;
    }
  }
  EXPECT_EQ(m.GetExport("Hidden"), 0u);
}

// The inspection tool prints what the loader saw; its JSON must agree with the listing.
TEST_P(RealDllTest, TheInspectionToolReportsTheLoadAtAForcedBase) {
  const std::string tool = SELLMETER_PE_TOOL;
  if (tool.empty()) GTEST_SKIP() << "sellmeter-pe is not part of this build";
  const std::string path = std::string(SELLMETER_SAMPLE_DLLS) + "/" + GetParam() + ".dll";
  const std::uint32_t forced = 0x30000000;
  std::string out;
  FILE* pipe = popen((tool + " " + path + " --base 0x30000000 --json").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char chunk[4096];
  for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << out;
  auto has = [&out](const std::string& part) {
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  };
  has("\"mapped\": true, \"loaded\": true, \"base\": " + std::to_string(forced));
  has("\"delta\": " + std::to_string(forced - listing.imageBase) + ",");
  std::string imports;
  for (const ListedImport& i : listing.imports) {
    imports += (imports.empty() ? "" : ", ") + std::string("{\"library\": \"") + i.library + "\", " +
               (i.name.empty() ? "\"ordinal\": " + std::to_string(i.ordinal)
                               : "\"name\": \"" + i.name + "\"") + "}";
  }
  has("\"imports\": [" + imports + "]");
  for (const ListedExport& e : listing.exports) {
    const std::string rva = std::to_string(e.rva);
    has("{\"ordinal\": " + std::to_string(e.ordinal) + ", \"name\": " +
        (e.name.empty() ? "null, \"rva\": " + rva + ", \"nameRva\": null}"
                        : "\"" + e.name + "\", \"rva\": " + rva + ", \"nameRva\": " + rva + "}"));
  }

  // Bytes that are no image: nothing mapped, nothing loaded, and the tool says so.
  const std::string junk = ::testing::TempDir() + "/not_an_image.dll";
  std::ofstream(junk) << "MZ but nothing more";
  pipe = popen((tool + " " + junk + " --json").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  out.clear();
  for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  EXPECT_NE(pclose(pipe), 0);
  has("{\"mapped\": false, \"loaded\": false, \"base\": 0, \"size\": 0");
}

INSTANTIATE_TEST_SUITE_P(SampleDlls, RealDllTest, ::testing::Values("plain", "rebased"));

}  // namespace
}  // namespace sellmeter::test
