// The Linux layer against the Windows behaviour of the two conversion functions.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "text/codepage_api.h"
#include "text/linux/linux_codepage.h"

namespace sellmeter {
namespace {

CodePageApi& Api() { return PlatformCodePageApi(); }

std::u16string ToWide(unsigned cp, std::string_view bytes, std::uint32_t flags = 0) {
  const int length = static_cast<int>(bytes.size());
  const int size = Api().MultiByteToWideChar(cp, flags, bytes.data(), length, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  if (size == 0) return out;
  const int written = Api().MultiByteToWideChar(cp, flags, bytes.data(), length, out.data(), size);
  EXPECT_EQ(written, size) << "size query and conversion disagree";
  return out;
}

std::string ToBytes(unsigned cp, std::u16string_view wide, std::uint32_t flags = 0, const char* defaultChar = nullptr,
                    bool* used = nullptr) {
  const int length = static_cast<int>(wide.size());
  const int size = Api().WideCharToMultiByte(cp, flags, wide.data(), length, nullptr, 0, defaultChar, used);
  std::string out(static_cast<std::size_t>(size), '\0');
  if (size == 0) return out;
  const int written = Api().WideCharToMultiByte(cp, flags, wide.data(), length, out.data(), size, defaultChar, used);
  EXPECT_EQ(written, size) << "size query and conversion disagree";
  return out;
}

TEST(Cp936Decode, SingleBytesAndInvalidSequences) {
  const struct {
    std::string bytes;
    std::u16string expected;
  } cases[] = {
      {"\xD5\xC5", u"张"},
      {"\x80", u"\u20AC"},
      {"\xFF", u"\uF8F5"},
      {"\xA1\xA1", u"\u3000"},
      // A byte that cannot trail is taken with its lead into one "?".
      {"\x81\x30x", u"?x"},
      {std::string("\x81\x01", 2), u"?"},
      {"\x81\x7F", u"?"},
      {"\x81\xFF", u"?"},
      {"\x81\x3F\x40", u"?@"},
      // A lead byte before a zero: "?" and then the zero.
      {std::string("\x81\x00z", 3), std::u16string(u"?\0z", 3)},
      {"ab\x81", u"ab?"},  // a lone lead byte at the end
      {"\x81", u"?"},
      {"\x81\x40\x81", u"丂?"},
      {"\xFE\xFE", u"\uE4C5"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToWide(kCpGbk, c.bytes), c.expected) << testing::PrintToString(c.bytes);
}

TEST(Cp936Decode, MinusOneLengthCountsTheTerminatorAndStopsThere) {
  char16_t out[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a\x81", -1, nullptr, 0), 3);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a\x81", -1, out, 8), 3);
  EXPECT_EQ(std::u16string(out, 4), std::u16string(u"a?\0x", 4));
}

TEST(Cp936Decode, FailsOnInvalidInputOnlyWhenAsked) {
  constexpr std::uint32_t kMbErrInvalidChars = 0x8;
  char16_t out[4];
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, kMbErrInvalidChars, "a\x81\x30", 3, out, 4), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, kMbErrInvalidChars, "a\xD5\xC5", 3, out, 4), 2);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpUtf8, kMbErrInvalidChars, "a\xC3", 2, out, 4), 0);
}

TEST(Cp936Encode, BestFitAndDefaultCharacter) {
  const struct {
    std::u16string wide;
    std::string expected;
    bool usedDefault;
  } cases[] = {
      {u"张", "\xD5\xC5", false},
      {u"\u00A2", "\xA1\xE9", false},  // best fit: cent sign as the full-width one
      {u"\u20AC", "\x80", false},
      {u"\uF8F5", "\xFF", false},
      {u"\uE000", "\xAA\xA1", false},
      {u"\u30FB", "?", true},
      {u"a\U0001F600b", "a?b", true},  // a surrogate pair is one character
      {u"\xD800" u"a", "?a", true},    // a lone surrogate
      {u"a\xDC00", "a?", true},
  };
  for (const auto& c : cases) {
    bool used = !c.usedDefault;
    EXPECT_EQ(ToBytes(kCpGbk, c.wide, 0, nullptr, &used), c.expected) << testing::PrintToString(c.wide);
    EXPECT_EQ(used, c.usedDefault) << testing::PrintToString(c.wide);
  }
  EXPECT_EQ(ToBytes(kCpGbk, u"x\u30FBy", 0, "*"), "x*y");
  EXPECT_EQ(ToBytes(kCpGbk, u"x\u30FBy", 0, "\xA1\xEF"), "x\xA1\xEFy");  // a double-byte default
  EXPECT_EQ(ToBytes(kCpGbk, u"x\u30FBy", 0, ""), "x?y");
}

TEST(CompositeCheck, PrecomposesBaseAndMarkWhenTheCodePageHoldsTheResult) {
  EXPECT_EQ(ToBytes(kCpGbk, u"e\u0301", kWcCompositeCheck), "\xA8\xA6");
  EXPECT_EQ(ToBytes(kCpGbk, u"xe\u0301e\u0301", kWcCompositeCheck), "x\xA8\xA6\xA8\xA6");
  EXPECT_NE(ToBytes(kCpGbk, u"e\u0301"), "\xA8\xA6");  // only with the flag
  EXPECT_EQ(ToBytes(kCp1252, u"n\u0303", kWcCompositeCheck), "\xF1");
  // No precomposed character in the code page: both stay, each converted on its own.
  EXPECT_EQ(ToBytes(kCpGbk, u"n\u0303", kWcCompositeCheck), ToBytes(kCpGbk, u"n\u0303"));
  // A mark with nothing before it, and one that composes with nothing.
  EXPECT_EQ(ToBytes(kCpGbk, u"\u0301e", kWcCompositeCheck), ToBytes(kCpGbk, u"\u0301e"));
  EXPECT_EQ(ToBytes(kCpGbk, u"x\u0301", kWcCompositeCheck), ToBytes(kCpGbk, u"x\u0301"));
}

TEST(Cp1252, MapsLikeWindows) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = ToWide(kCp1252, all);
  ASSERT_EQ(wide.size(), 255u);
  EXPECT_EQ(wide[0x80 - 1], u'\u20AC');
  EXPECT_EQ(wide[0x81 - 1], u'\u0081');  // the five holes map to the C1 controls
  EXPECT_EQ(wide[0x9F - 1], u'\u0178');
  EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
  EXPECT_EQ(ToBytes(kCp1252, wide), all);  // every byte round-trips
  EXPECT_EQ(ToBytes(kCp1252, u"张"), "?");
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(ToWide(kCpUtf8, "a\xC3(b"), u"a\uFFFD(b");
  EXPECT_EQ(ToWide(kCpUtf8, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
  EXPECT_EQ(ToWide(kCpUtf8, "\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(ToWide(kCpUtf8, "\xE5\xBC"), u"\uFFFD");  // a cut sequence is one replacement
  EXPECT_EQ(ToBytes(kCpUtf8, u"\U0001F600\xD800z"), "\xF0\x9F\x98\x80\xEF\xBF\xBDz");
}

TEST(Parameters, RejectedLikeWindows) {
  char16_t wide[8];
  char bytes[8];
  bool used = false;
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a", 0, wide, 8), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, nullptr, 1, wide, 8), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a", -2, wide, 8), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(437, 0, "a", 1, wide, 8), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0x4, "a", 1, wide, 8), 0);
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a", 1, nullptr, 8), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpUtf8, kWcCompositeCheck, u"a", 1, bytes, 8, nullptr, nullptr), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpUtf8, 0, u"a", 1, bytes, 8, "?", nullptr), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpUtf8, 0, u"a", 1, bytes, 8, nullptr, &used), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpGbk, 0, u"a", 0, bytes, 8, nullptr, nullptr), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpGbk, 0x4, u"a", 1, bytes, 8, nullptr, nullptr), 0);
}

TEST(Buffers, TooSmallFailsAndLeavesTheBufferAlone) {
  char16_t wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(std::u16string(wide, 4), u"####");
  EXPECT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, "a\xD5\xC5", -1, wide, 3), 3);  // exactly fits
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"a张\0#", 4));

  char bytes[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(Api().WideCharToMultiByte(kCpGbk, 0, u"a张", 2, bytes, 2, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(bytes, 4), "####");
  EXPECT_EQ(Api().WideCharToMultiByte(kCpGbk, 0, u"a张", 2, bytes, 3, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(bytes, 4), "a\xD5\xC5#");
  EXPECT_EQ(Api().WideCharToMultiByte(kCpUtf8, 0, u"张", 1, bytes, 2, nullptr, nullptr), 0);
  EXPECT_EQ(Api().WideCharToMultiByte(kCpUtf8, 0, u"张", 1, bytes, 3, nullptr, nullptr), 3);
}

TEST(AnsiCodePage, CodePageZeroFollowsTheSetting) {
  EXPECT_EQ(ToWide(kCpAcp, "\xD5\xC5"), u"张");
  {
    ScopedAnsiCodePage ansi(kCp1252);
    EXPECT_EQ(ToWide(kCpAcp, "\xD5\xC5"), u"\u00D5\u00C5");
    EXPECT_EQ(ToBytes(kCpAcp, u"\u00E9张"), "\xE9?");
    SetAnsiCodePage(437);  // not a code page of this layer: ignored
    EXPECT_EQ(AnsiCodePage(), kCp1252);
  }
  EXPECT_EQ(AnsiCodePage(), kCpGbk);
}

// Non-ASCII characters at every offset around the sixteen-unit blocks of the ASCII path.
TEST(AsciiRuns, NonAsciiAtEveryOffsetAroundTheBlocks) {
  for (std::size_t offset = 0; offset < 40; ++offset) {
    for (std::size_t length = offset + 1; length < 48; length += 7) {
      std::string gbk(length, 'a');
      std::u16string expected(length, u'a');
      gbk.replace(offset, 1, "\xD5\xC5");
      expected[offset] = u'张';
      gbk.push_back('z');
      expected.push_back(u'z');
      EXPECT_EQ(ToWide(kCpGbk, gbk), expected) << offset << " " << length;
      EXPECT_EQ(ToBytes(kCpGbk, expected), gbk) << offset << " " << length;
      std::u16string latin(expected);
      latin[offset] = u'\u00E9';
      std::string cp1252(length + 1, 'a');
      cp1252[offset] = '\xE9';
      cp1252.back() = 'z';
      EXPECT_EQ(ToWide(kCp1252, cp1252), latin);
      EXPECT_EQ(ToBytes(kCp1252, latin), cp1252);
      std::string utf8(gbk);
      utf8.replace(offset, 2, "\xE5\xBC\xA0");
      EXPECT_EQ(ToWide(kCpUtf8, utf8), expected);
      EXPECT_EQ(ToBytes(kCpUtf8, expected), utf8);
    }
  }
}

// glibc's CP936 against our table over every single byte and double-byte code. glibc has no mapping for the
// codes Windows sends to the Private Use Area: the three user-defined areas onto
// U+E000-U+E765 (AAA1-AFFE first, then F8A1-FEFE, then A140-A7A0), and the 255 codes GBK
// leaves unassigned, in code order onto U+E766-U+E864. Every other code must agree exactly.
TEST(Cp936Oracle, DoubleByteTableMatchesGlibcExceptThePrivateUseMappings) {
  iconv_t oracle = iconv_open("UTF-16LE", "CP936");
  ASSERT_NE(oracle, reinterpret_cast<iconv_t>(-1));
  // The Private Use unit of a user-defined code, 0 for the other codes.
  auto userDefined = [](int lead, int trail) -> int {
    if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1) return 0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1);
    if (lead >= 0xF8 && trail >= 0xA1) return 0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1);
    if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0)
      return 0xE4C6 + (lead - 0xA1) * 96 + (trail - 0x40) - (trail > 0x7F ? 1 : 0);
    return 0;
  };
  int userDefinedCount = 0;
  char16_t nextUnassigned = 0xE766;
  int agreed = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char16_t ours[2] = {};
      ASSERT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, pair, 2, ours, 2), 1) << std::hex << lead << trail;
      char in[2] = {pair[0], pair[1]};
      unsigned char out[8];
      char* inPtr = in;
      char* outPtr = reinterpret_cast<char*>(out);
      std::size_t inLeft = 2;
      std::size_t outLeft = sizeof out;
      iconv(oracle, nullptr, nullptr, nullptr, nullptr);
      const bool mapped = iconv(oracle, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                          outPtr - reinterpret_cast<char*>(out) == 2;
      if (mapped) {
        ASSERT_EQ(ours[0], static_cast<char16_t>(out[0] | out[1] << 8)) << std::hex << lead << trail;
        ++agreed;
      } else if (const int unit = userDefined(lead, trail)) {
        ASSERT_EQ(ours[0], static_cast<char16_t>(unit)) << std::hex << lead << trail;
        ++userDefinedCount;
      } else {
        ASSERT_EQ(ours[0], nextUnassigned++) << std::hex << lead << trail;
      }
    }
  }
  // Single bytes: ASCII and the euro sign 0x80 agree; glibc has nothing for 0xFF, which
  // Windows maps to U+F8F5.
  for (int byte = 0; byte <= 0xFF; ++byte) {
    if (byte >= 0x81 && byte <= 0xFE) continue;
    const char one = static_cast<char>(byte);
    char16_t ours = 0;
    ASSERT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, &one, 1, &ours, 1), 1);
    char in = one;
    unsigned char out[4];
    char* inPtr = &in;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    iconv(oracle, nullptr, nullptr, nullptr, nullptr);
    const bool mapped = iconv(oracle, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    if (byte == 0xFF) {
      EXPECT_FALSE(mapped);
      EXPECT_EQ(ours, u'\uF8F5');
    } else {
      ASSERT_TRUE(mapped) << byte;
      EXPECT_EQ(ours, static_cast<char16_t>(out[0] | out[1] << 8)) << byte;
    }
  }
  iconv_close(oracle);
  EXPECT_EQ(userDefinedCount, 0xE766 - 0xE000);
  EXPECT_EQ(nextUnassigned, 0xE865);
  EXPECT_EQ(agreed, 126 * 190 - 1894 - 255);
}

// The other direction over every BMP unit: wherever glibc encodes a unit, we give the same
// bytes. Beyond that we encode the Private Use units and U+F8F5 (the reverse of the codes
// above, round-tripping) and Windows' best-fit mappings, which decode to another character.
TEST(Cp936Oracle, EncodingMatchesGlibcWhereGlibcHasAMapping) {
  iconv_t oracle = iconv_open("CP936", "UTF-16LE");
  ASSERT_NE(oracle, reinterpret_cast<iconv_t>(-1));
  int roundTripOnlyOurs = 0;
  int bestFit = 0;
  for (unsigned value = 0; value <= 0xFFFF; ++value) {
    if (value >= 0xD800 && value <= 0xDFFF) continue;
    const char16_t unit = static_cast<char16_t>(value);
    char ours[4] = {};
    bool usedDefault = false;
    const int length = Api().WideCharToMultiByte(kCpGbk, 0, &unit, 1, ours, 4, nullptr, &usedDefault);
    ASSERT_GE(length, 1);
    char in[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    char out[8];
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 2;
    std::size_t outLeft = sizeof out;
    iconv(oracle, nullptr, nullptr, nullptr, nullptr);
    if (iconv(oracle, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
      ASSERT_FALSE(usedDefault) << std::hex << value;
      ASSERT_EQ(std::string(ours, static_cast<std::size_t>(length)), std::string(out, outPtr)) << std::hex << value;
      continue;
    }
    if (usedDefault) continue;
    char16_t back = 0;
    ASSERT_EQ(Api().MultiByteToWideChar(kCpGbk, 0, ours, length, &back, 1), 1);
    if (back == unit) {
      ASSERT_TRUE((value >= 0xE000 && value <= 0xE864) || value == 0xF8F5) << std::hex << value;
      ++roundTripOnlyOurs;
    } else {
      ++bestFit;
    }
  }
  iconv_close(oracle);
  EXPECT_EQ(roundTripOnlyOurs, 0xE865 - 0xE000 + 1);
  EXPECT_GT(bestFit, 0);
}

}  // namespace
}  // namespace sellmeter
