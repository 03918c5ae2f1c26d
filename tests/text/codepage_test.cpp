// The five conversions and their sizing, through the platform layer and through a scripted
// fake that records the calls.
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/linux/linux_codepage.h"

namespace sellmeter {
namespace {

ByteArray B(std::initializer_list<int> bytes) {
  ByteArray out;
  for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

const Text kZhang = "\xD5\xC5";  // 张

TEST(Conversions, SizingEdgeCases) {
  EXPECT_EQ(TextToWide(""), B({0, 0}));
  EXPECT_EQ(GbkToWide(""), ByteArray{});
  EXPECT_EQ(GbkToWide(kZhang), B({0x20, 0x5F, 0, 0}));
  EXPECT_EQ(GbkToWide(kZhang, true), B({0x20, 0x5F}));
  EXPECT_EQ(WideToGbk(B({0x20, 0x5F})), kZhang);
  EXPECT_EQ(WideToGbk(B({0x20, 0x5F, 0, 0})), kZhang);
  EXPECT_EQ(WideToGbk(B({0x20, 0x5F, 0x41})), kZhang);
  EXPECT_EQ(WideToGbk(ByteArray{}), "");
  EXPECT_EQ(WideToGbk(B({0x41, 0, 0, 0, 0x42, 0})), "A");
  EXPECT_EQ(GbkToUtf8(kZhang), "\xE5\xBC\xA0");
  EXPECT_EQ(GbkToUtf8("abc"), "abc");
  EXPECT_EQ(TextToWide(kZhang, kCpGbk), B({0x20, 0x5F, 0, 0}));
}

TEST(Conversions, AnsiCodePage1252SizesTextToWide) {
  ScopedAnsiCodePage ansi(kCp1252);
  // Three units counted in 1252, two written by 936; the third stays zero.
  EXPECT_EQ(TextToWide(kZhang, kCpGbk), B({0x20, 0x5F, 0, 0, 0, 0}));
  // WideToText sizes in 1252 too: 张三 counts three bytes there ("??" and the terminator), so
  // six are prepared for UTF-8's seven; the text is sized again for UTF-8.
  EXPECT_EQ(WideToText(B({0x20, 0x5F, 0x09, 0x4E, 0, 0}), kCpUtf8), "\xE5\xBC\xA0\xE4\xB8\x89");
}

TEST(Conversions, ResizedWhenTheTargetNeedsMoreThanTheAnsiCount) {
  // 936 counts two units for D5 C5 + terminator; 1252 needs three.
  EXPECT_EQ(TextToWide(kZhang, kCp1252), B({0xD5, 0, 0xC5, 0, 0, 0}));
  // The euro sign is one byte in 936 and three in UTF-8: twice the ANSI count is too little.
  EXPECT_EQ(GbkToUtf8("\x80\x80"), "\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(GbkToUtf8("a\x80\xFF"), "a\xE2\x82\xAC\xEF\xA3\xB5");
}

TEST(Conversions, WideToTextReadsToFirstZeroUnitAndNeverPastTheData) {
  EXPECT_EQ(WideToText(B({0x20, 0x5F, 0, 0, 0x41, 0})), kZhang);
  EXPECT_EQ(WideToText(B({0x20, 0x5F, 0, 0}), kCpUtf8), "\xE5\xBC\xA0");
  // No zero unit in the data, and an odd last byte: the text ends with the data.
  EXPECT_EQ(WideToText(B({0x41, 0, 0x42, 0, 0x43})), "AB");
  EXPECT_EQ(WideToText(ByteArray{}), "");
}

TEST(Conversions, TextToWideStopsAtAnEmbeddedZero) {
  const Text text("a\0b", 3);
  EXPECT_EQ(TextToWide(text), B({'a', 0, 0, 0}));
  EXPECT_EQ(GbkToWide(text), B({'a', 0, 0, 0}));
  // The edge helpers take explicit lengths and keep it.
  EXPECT_EQ(TextToU16(text), std::u16string(u"a\0b", 3));
}

TEST(Conversions, EdgeHelpersRoundTripMixedText) {
  const Text gbk = "price \xA3\xA4" "12 \xD5\xC5\xC8\xFD <b>x</b>";
  const std::u16string wide = TextToU16(gbk);
  EXPECT_EQ(wide, u"price \uFFE512 张三 <b>x</b>");
  EXPECT_EQ(U16ToText(wide), gbk);
  EXPECT_EQ(U16ToText(u"张", kCpUtf8), "\xE5\xBC\xA0");
  EXPECT_EQ(TextToU16("\xE5\xBC\xA0", kCpUtf8), u"张");
  EXPECT_EQ(TextToU16(""), u"");
  EXPECT_EQ(U16ToText(u""), "");
}

// Records every call and answers from a script.
class ScriptedCodePages final : public CodePageApi {
 public:
  struct Call {
    bool toWide;
    unsigned codePage;
    std::uint32_t flags;
    int sourceLength;
    bool hasOutput;
    int outSize;
  };
  std::vector<Call> calls;
  std::vector<int> answers;  // one per call; the output, when given, is left untouched

  int MultiByteToWideChar(unsigned codePage, std::uint32_t flags, const char*, int sourceLength,
                          char16_t* wide, int wideSize) override {
    calls.push_back({true, codePage, flags, sourceLength, wide != nullptr, wideSize});
    return Next();
  }
  int WideCharToMultiByte(unsigned codePage, std::uint32_t flags, const char16_t*, int sourceLength,
                          char* out, int outSize, const char* defaultChar, bool* used) override {
    EXPECT_EQ(defaultChar, nullptr);
    EXPECT_EQ(used, nullptr);
    calls.push_back({false, codePage, flags, sourceLength, out != nullptr, outSize});
    return Next();
  }

 private:
  int Next() {
    if (calls.size() > answers.size()) return 0;
    return answers[calls.size() - 1];
  }
};

bool operator==(const ScriptedCodePages::Call& a, const ScriptedCodePages::Call& b) {
  return a.toWide == b.toWide && a.codePage == b.codePage && a.flags == b.flags &&
         a.sourceLength == b.sourceLength && a.hasOutput == b.hasOutput && a.outSize == b.outSize;
}

using Calls = std::vector<ScriptedCodePages::Call>;

TEST(ConversionCalls, EachConversionSizesThenConverts) {
  {
    ScriptedCodePages fake;
    fake.answers = {3, 3};
    ScopedCodePageApi scope(fake);
    // The size query asks the ANSI code page; the fake writes nothing, so 3 zero units stand.
    EXPECT_EQ(TextToWide("ab", kCpUtf8), ByteArray(6, 0));
    EXPECT_EQ(fake.calls, (Calls{{true, 0, 0, -1, false, 0}, {true, 65001, 0, -1, true, 3}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {3, 0, 5, 5};
    ScopedCodePageApi scope(fake);
    // A failed conversion is sized again in its own code page and repeated.
    EXPECT_EQ(TextToWide("ab", kCpUtf8), ByteArray(10, 0));
    EXPECT_EQ(fake.calls, (Calls{{true, 0, 0, -1, false, 0},
                                 {true, 65001, 0, -1, true, 3},
                                 {true, 65001, 0, -1, false, 0},
                                 {true, 65001, 0, -1, true, 5}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {3, 0, 0};
    ScopedCodePageApi scope(fake);
    // ... and when that finds nothing larger, the prepared zeros stand.
    EXPECT_EQ(TextToWide("ab", kCpUtf8), ByteArray(6, 0));
    EXPECT_EQ(fake.calls.size(), 3u);
  }
  {
    ScriptedCodePages fake;
    fake.answers = {4, 8};
    ScopedCodePageApi scope(fake);
    // Twice the ANSI size is prepared, as blanks.
    EXPECT_EQ(WideToText(B({'a', 0}), kCp1252), Text(8, ' '));
    EXPECT_EQ(fake.calls, (Calls{{false, 0, 0, -1, false, 0}, {false, 1252, 0, -1, true, 8}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {4, 0, 11, 11};
    ScopedCodePageApi scope(fake);
    EXPECT_EQ(WideToText(B({'a', 0}), kCpUtf8), Text(11, ' '));
    EXPECT_EQ(fake.calls, (Calls{{false, 0, 0, -1, false, 0},
                                 {false, 65001, 0, -1, true, 8},
                                 {false, 65001, 0, -1, false, 0},
                                 {false, 65001, 0, -1, true, 11}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {4, 0, 8};
    ScopedCodePageApi scope(fake);
    EXPECT_EQ(WideToText(B({'a', 0}), kCpUtf8), Text(8, ' '));  // nothing larger: blanks stand
    EXPECT_EQ(fake.calls.size(), 3u);
  }
  {
    ScriptedCodePages fake;
    fake.answers = {2, 2};
    ScopedCodePageApi scope(fake);
    EXPECT_EQ(GbkToWide("x"), ByteArray(4, 0));
    EXPECT_EQ(fake.calls, (Calls{{true, 936, 0, -1, false, 0}, {true, 936, 0, -1, true, 2}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {5, 5};
    ScopedCodePageApi scope(fake);
    EXPECT_EQ(WideToGbk(B({'a', 0, 'b', 0, 'c'})), "");  // untouched zero bytes read as empty
    EXPECT_EQ(fake.calls, (Calls{{false, 936, 0x200, 2, false, 0}, {false, 936, 0x200, 2, true, 5}}));
  }
  {
    ScriptedCodePages fake;
    fake.answers = {0};
    ScopedCodePageApi scope(fake);
    // A failed size query: nothing prepared, nothing converted.
    EXPECT_EQ(TextToWide("abc"), ByteArray{});
    EXPECT_EQ(WideToText(B({'a', 0})), "");
    EXPECT_EQ(GbkToWide("abc"), ByteArray{});
    EXPECT_EQ(WideToGbk(B({'a', 0})), "");
    EXPECT_EQ(fake.calls.size(), 4u);
  }
  {
    ScriptedCodePages fake;
    fake.answers = {3, 3, 3, 3};
    ScopedCodePageApi scope(fake);
    // The fake writes nothing: three zero units, then twice three blanks that no zero ends.
    EXPECT_EQ(GbkToUtf8("abc"), Text(6, ' '));
    EXPECT_EQ(fake.calls, (Calls{{true, 0, 0, -1, false, 0},
                                 {true, 936, 0, -1, true, 3},
                                 {false, 0, 0, -1, false, 0},
                                 {false, 65001, 0, -1, true, 6}}));
  }
}

TEST(ConversionCalls, ScopeRestoresThePlatformLayer) {
  ScriptedCodePages fake;
  {
    ScopedCodePageApi scope(fake);
    EXPECT_EQ(&CodePages(), &fake);
  }
  EXPECT_EQ(&CodePages(), &PlatformCodePageApi());
}

}  // namespace
}  // namespace sellmeter
