// Mapping: header checks, the image size rule, copies, placement and base relocations.
#include <gtest/gtest.h>

#include <cstring>

#include "skin/mapped_image.h"
#include "tests/skin/pe_builder.h"
#include "tests/skin/recording_host.h"

namespace sellmeter::test {
namespace {

class MapImageTest : public ::testing::Test {
 protected:
  std::optional<MappedImage> Map(const ByteArray& image) { return MapImage(image); }
  std::span<std::uint8_t> Block(const MappedImage& m) { return host.ReservedBlock(m.base); }
  static std::uint32_t Word(std::span<const std::uint8_t> b, std::uint32_t at) {
    return Le32(b.data() + at);
  }

  RecordingHost host;
  ScopedModuleHost scoped{host};
};

// A header-only image with n section headers that have no raw data: the file ends right at
// the end of the section table.
ByteArray HeaderOnly(int n) {
  PeBuilder b;
  b.Put16(kNumberOfSections, static_cast<std::uint16_t>(n));
  for (int i = 0; i < n; ++i) {
    b.Put32(SectionAt(i) + 8, 0x100);                // VirtualSize
    b.Put32(SectionAt(i) + 12, 0x1000 * (i + 1));    // VirtualAddress
    b.Put32(SectionAt(i) + 16, 0);                   // SizeOfRawData
  }
  b.Put32(kSizeOfImage, 0x1000);
  ByteArray image = b.Build();
  image.resize(SectionAt(n));
  return image;
}

TEST_F(MapImageTest, RejectsMalformedHeadersWithoutReservingAnything) {
  const ByteArray good = PeBuilder().Build();
  auto with = [&](auto change) {
    ByteArray image = good;
    change(image);
    return image;
  };
  const struct {
    const char* what;
    ByteArray image;
  } cases[] = {
      {"63 bytes", with([](ByteArray& b) { b.resize(63); })},
      {"64 bytes, MZ, e_lfanew 0", with([](ByteArray& b) {
         b.resize(64);
         PutLe32(b.data() + 0x3C, 0);
       })},
      {"no MZ", with([](ByteArray& b) { b[1] = 'X'; })},
      {"negative e_lfanew", with([](ByteArray& b) { PutLe32(b.data() + 0x3C, 0xFFFFFFF0u); })},
      {"NT headers cut short", with([](ByteArray& b) { b.resize(kNt + 247); })},
      {"PE signature with a nonzero third byte", with([](ByteArray& b) { b[kNt + 2] = 1; })},
      {"not marked executable", with([](ByteArray& b) { b[kCharacteristics] &= ~0x02; })},
      {"section table cut short", with([](ByteArray& b) { b.resize(SectionAt(1) - 1); })},
      {"image size 0", with([](ByteArray& b) {
         PutLe32(b.data() + kSizeOfImage, 0);
         b[kNumberOfSections] = 0;
       })},
      {"negative image size", with([](ByteArray& b) {
         PutLe32(b.data() + kSizeOfImage, 0x80000000u);
         b[kNumberOfSections] = 0;
       })},
      {"section alignment 0", with([](ByteArray& b) { PutLe32(b.data() + kSectionAlignment, 0); })},
      {"raw data beyond the buffer", with([](ByteArray& b) {
         PutLe32(b.data() + SectionAt(0) + 16, 0x400);
         b.resize(0x300);
       })},
      {"raw data offset far beyond the buffer", with([](ByteArray& b) {
         PutLe32(b.data() + SectionAt(0) + 16, 0x10);
         PutLe32(b.data() + SectionAt(0) + 20, 0xFFFFFFF8u);
       })},
      {"headers larger than the image", with([](ByteArray& b) {
         PutLe32(b.data() + kSizeOfImage, 0x100);
         b[kNumberOfSections] = 0;
       })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host.log.clear();
    EXPECT_FALSE(Map(c.image).has_value());
    EXPECT_TRUE(host.Logged("VirtualAlloc").empty());
  }
  EXPECT_EQ(host.LiveBlocks(), 0u);
}

TEST_F(MapImageTest, ABufferEndingAtTheSectionTablePassesTheSizeChecks) {
  for (int n : {0, 1, 3}) {
    SCOPED_TRACE(n);
    ByteArray image = HeaderOnly(n);
    std::optional<MappedImage> m = Map(image);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->sections.size(), static_cast<std::size_t>(n));
    image.pop_back();
    EXPECT_FALSE(Map(image).has_value());
  }
}

TEST_F(MapImageTest, ImageSizeTakesTheLow16BitsOfVirtualSizeAndOnlyEverGrows) {
  struct Section {
    std::uint32_t virtualSize, virtualAddress, rawSize;
  };
  const struct {
    const char* what;
    std::uint32_t sizeOfImage, alignment;
    std::vector<Section> sections;
    std::uint32_t expected;
  } cases[] = {
      {"raw data beyond the low bits", 0x1000, 0x1000, {{0x15000, 0x1000, 0x14C00}}, 0x16000},
      {"no raw data: extent 0x7000", 0x1000, 0x1000, {{0x27000, 0x1000, 0}}, 0x8000},
      {"header covers every end", 0x40000, 0x1000, {{0x15000, 0x1000, 0x14C00}}, 0x40000},
      {"largest aligned end wins", 0x2000, 0x1000, {{0x800, 0x1000, 0}, {0x10, 0x5000, 0}, {0x100, 0x3000, 0}}, 0x6000},
      {"alignment that is no power of two", 0x100, 0x300, {{0x301, 0x300, 0}}, 0x900},
      {"negative raw size takes the virtual size", 0x1000, 0x1000, {{0x1800, 0x1000, 0x80000000u}}, 0x3000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PeBuilder b;
    b.Put32(kSizeOfImage, c.sizeOfImage);
    ByteArray image = b.Build();
    PutLe32(image.data() + kSizeOfImage, c.sizeOfImage);
    PutLe32(image.data() + kSectionAlignment, c.alignment);
    image[kNumberOfSections] = static_cast<std::uint8_t>(c.sections.size());
    for (std::size_t i = 0; i < c.sections.size(); ++i) {
      const int at = SectionAt(static_cast<int>(i));
      PutLe32(image.data() + at + 8, c.sections[i].virtualSize);
      PutLe32(image.data() + at + 12, c.sections[i].virtualAddress);
      PutLe32(image.data() + at + 16, c.sections[i].rawSize);
      PutLe32(image.data() + at + 20, kDataRva);
    }
    if (c.sections[0].rawSize != 0 && c.sections[0].rawSize < 0x80000000u) {
      image.resize(kDataRva + c.sections[0].rawSize, 0xAB);
    }
    std::optional<MappedImage> m = Map(image);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->size, c.expected);
    EXPECT_EQ(Block(*m).size(), c.expected);
    // The mapped headers keep the buffer's SizeOfImage.
    EXPECT_EQ(Word(Block(*m), kSizeOfImage), c.sizeOfImage);
  }
}

TEST(AlignUpTest, RoundsUpToTheAlignment) {
  EXPECT_EQ(AlignUp(0, 0x1000), 0);
  EXPECT_EQ(AlignUp(1, 0x1000), 0x1000);
  EXPECT_EQ(AlignUp(0x1000, 0x1000), 0x1000);
  EXPECT_EQ(AlignUp(0xFFFFFFFFll, 0x1000), 0x100000000ll);  // no 32-bit overflow
  EXPECT_EQ(AlignUp(7, 3), 9);
  EXPECT_EQ(AlignUp(-5, 4), -4);  // floor of the real quotient
}

TEST_F(MapImageTest, CopiesHeadersAndRawDataAndLeavesTheRestZero) {
  PeBuilder b;
  b.AppendText("section data");
  ByteArray image = b.Build();
  // Bytes in the buffer past the section table are no header; they must not be copied.
  image[SectionAt(2) + 4] = 0xEE;
  // A second section with raw data but VirtualAddress 0 is not copied over the headers.
  image[kNumberOfSections] = 2;
  PutLe32(image.data() + SectionAt(1) + 8, 0x10);
  PutLe32(image.data() + SectionAt(1) + 12, 0);
  PutLe32(image.data() + SectionAt(1) + 16, 0x10);
  PutLe32(image.data() + SectionAt(1) + 20, kDataRva);
  // A VirtualSize larger than the raw data leaves the tail zero.
  PutLe32(image.data() + SectionAt(0) + 8, 0x400);
  std::optional<MappedImage> m = Map(image);
  ASSERT_TRUE(m.has_value());
  std::span<std::uint8_t> block = Block(*m);
  ASSERT_EQ(block.size(), 0x600u);
  const std::size_t headers = SectionAt(2);
  EXPECT_EQ(0, std::memcmp(block.data(), image.data(), headers));
  for (std::size_t i = headers; i < kDataRva; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(0, std::memcmp(block.data() + kDataRva, "section data", 13));
  for (std::size_t i = image.size(); i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(m->sections[1].VirtualAddress, 0u);
  EXPECT_EQ(m->ntHeaders.OptionalHeader.ImageBase, kPreferredBase);
  EXPECT_EQ(m->dosHeader.e_lfanew, static_cast<std::int32_t>(kNt));
}

TEST_F(MapImageTest, ReservesAtThePreferredBaseThenAnywhere) {
  const ByteArray image = PeBuilder().Build();
  std::optional<MappedImage> m = Map(image);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->base, kPreferredBase);
  EXPECT_EQ(host.Logged("VirtualAlloc"),
            std::vector<std::string>{"VirtualAlloc 0x10000000 0x200 0x3000 0x40"});

  host.log.clear();
  host.taken.insert(kPreferredBase);
  m = Map(image);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->base, 0x00A00000u);
  EXPECT_EQ(host.Logged("VirtualAlloc"),
            (std::vector<std::string>{"VirtualAlloc 0x10000000 0x200 0x3000 0x40",
                                      "VirtualAlloc 0x0 0x200 0x3000 0x40"}));

  host.refuseAll = true;
  EXPECT_FALSE(Map(image).has_value());
}

// Three words to relocate at RVA 0x1000 (HIGHLOW), one left alone by an ABSOLUTE entry and
// one by a HIGH (type 1) entry.
struct RelocFixture {
  ByteArray image;
  std::vector<std::uint32_t> relocated = {0x1000, 0x1004, 0x1FFC};
  std::vector<std::uint32_t> untouched = {0x1008, 0x100C};
};

RelocFixture Relocatable() {
  RelocFixture f;
  PeBuilder b;
  b.PadTo(0x1000);
  b.AppendWords({0x10001000, 0x10000204, 0x12345678, 0x1000000C});
  b.PadTo(0x1FFC);
  b.AppendWords({0xFFFFFFFF});
  b.AddRelocations({{0x1000, {0x3000, 0x3004, 0x0008, 0x100C, 0x3FFC}}});
  f.image = b.Build();
  return f;
}

TEST_F(MapImageTest, RelocatesHighLowWordsByTheDeltaAndNothingElse) {
  const RelocFixture f = Relocatable();
  // At the preferred base every word stays as it was.
  std::optional<MappedImage> atHome = Map(f.image);
  ASSERT_TRUE(atHome.has_value());
  ASSERT_EQ(atHome->base, kPreferredBase);
  std::span<std::uint8_t> home = Block(*atHome);
  EXPECT_EQ(0, std::memcmp(home.data(), f.image.data(), f.image.size()));

  host.taken.insert(kPreferredBase);
  std::optional<MappedImage> moved = Map(f.image);
  ASSERT_TRUE(moved.has_value());
  const std::uint32_t delta = moved->base - kPreferredBase;  // modulo 2^32
  ASSERT_NE(delta, 0u);
  std::span<std::uint8_t> block = Block(*moved);
  for (std::uint32_t at : f.relocated) {
    EXPECT_EQ(Word(block, at), Word(f.image, at) + delta) << Hex(at);
  }
  ByteArray expected(f.image);
  for (std::uint32_t at : f.relocated) PutLe32(expected.data() + at, Word(f.image, at) + delta);
  EXPECT_EQ(0, std::memcmp(block.data(), expected.data(), expected.size()));
  for (std::uint32_t at : f.untouched) EXPECT_EQ(Word(block, at), Word(f.image, at));
}

TEST_F(MapImageTest, ABlockWithPageRvaZeroEndsTheWalk) {
  PeBuilder b;
  b.PadTo(0x1000);
  b.AppendWords({0x10000000, 0x10000000});
  // The directory's Size covers three blocks; the walk stops at the second.
  b.AddRelocations({{0x1000, {0x3000}}, {0, {}}, {0x1000, {0x3004}}});
  ByteArray image = b.Build();
  host.taken.insert(kPreferredBase);
  std::optional<MappedImage> m = Map(image);
  ASSERT_TRUE(m.has_value());
  const std::uint32_t delta = m->base - kPreferredBase;
  EXPECT_EQ(Word(Block(*m), 0x1000), 0x10000000 + delta);
  EXPECT_EQ(Word(Block(*m), 0x1004), 0x10000000u);
}

TEST_F(MapImageTest, ARelocationDirectoryOfSizeZeroOrNegativeIsNotWalked) {
  for (std::uint32_t size : {0u, 0x80000000u}) {
    SCOPED_TRACE(size);
    RelocFixture f = Relocatable();
    PutLe32(f.image.data() + DirectoryAt(5) + 4, size);
    host.taken.insert(kPreferredBase);
    std::optional<MappedImage> m = Map(f.image);
    ASSERT_TRUE(m.has_value());
    ASSERT_NE(m->base, kPreferredBase);
    EXPECT_EQ(0, std::memcmp(Block(*m).data(), f.image.data(), f.image.size()));
  }
}

TEST_F(MapImageTest, RelocationsReachingOutsideTheImageFailAndRelease) {
  auto build = [](auto add) {
    PeBuilder b;
    b.PadTo(0x1000);
    b.AppendWords({0x10000000});
    add(b);
    return b.Build();
  };
  const struct {
    const char* what;
    ByteArray image;
  } cases[] = {
      {"target beyond the image", build([](PeBuilder& b) { b.AddRelocations({{0x1000, {0x3FFE}}}); })},
      {"page far beyond the image", build([](PeBuilder& b) { b.AddRelocations({{0x7FFFF000, {0x3000}}}); })},
      {"block shorter than its header", build([](PeBuilder& b) {
         const std::uint32_t at = b.AppendWords({0x1000, 4, 0, 0});
         b.SetDirectory(5, at, 8);
       })},
      {"walk runs off the image", build([](PeBuilder& b) {
         // One block, then nothing: no terminating block inside the image.
         b.PadTo(0x1FF8);
         const std::uint32_t at = b.AppendWords({0x1000, 8});
         b.SetDirectory(5, at, 8);
       })},
      {"directory beyond the image", build([](PeBuilder& b) { b.SetDirectory(5, 0xFFFFFFF0u, 8); })},
      {"entries beyond the image", build([](PeBuilder& b) {
         b.PadTo(0x1FF8);
         const std::uint32_t at = b.AppendWords({0x1000, 0x100});
         b.SetDirectory(5, at, 0x100);
       })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host.log.clear();
    EXPECT_FALSE(Map(c.image).has_value());
    EXPECT_EQ(host.LiveBlocks(), 0u);
    EXPECT_EQ(host.Logged("VirtualFree").size(), 1u);
  }
}

}  // namespace
}  // namespace sellmeter::test
