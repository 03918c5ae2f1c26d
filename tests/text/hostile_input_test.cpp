// Random and cut input through every conversion: the layer's size query and conversion must
// agree, what it decodes must survive a round trip, and (under the sanitizers) nothing may
// be read or written outside the buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/codepage.h"
#include "text/gbk_text.h"
#include "text/url_encode.h"

namespace sellmeter {
namespace {

// Bytes weighted toward what breaks double-byte decoding: lead bytes, bytes that cannot
// trail, zeros, 0x80 and 0xFF; or long ASCII runs with such bytes between them, which take
// the block paths up to the very end of the buffer.
std::string RandomBytes(std::mt19937& rng, std::size_t length, bool asciiRuns) {
  static const unsigned char kInteresting[] = {0x00, 0x01, 0x30, 0x3F, 0x40, 0x41, 0x7E, 0x7F,
                                               0x80, 0x81, 0xA1, 0xD5, 0xC5, 0xFE, 0xFF, 0x20};
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned pick = rng() % 4;
    if (asciiRuns && rng() % 12 != 0) {
      out.push_back(static_cast<char>('a' + rng() % 26));
      continue;
    }
    out.push_back(static_cast<char>(pick == 0 ? rng() % 256 : kInteresting[rng() % sizeof kInteresting]));
  }
  return out;
}

// The layer is called on exactly sized heap copies, so that the sanitizers see a read or a
// write one byte past either buffer.
std::u16string Decode(unsigned cp, const std::string& bytes) {
  CodePageApi& api = CodePages();
  const std::vector<char> source(bytes.begin(), bytes.end());
  const int length = static_cast<int>(source.size());
  const int size = api.MultiByteToWideChar(cp, 0, source.data(), length, nullptr, 0);
  std::vector<char16_t> out(static_cast<std::size_t>(size));
  if (size > 0) {
    EXPECT_EQ(api.MultiByteToWideChar(cp, 0, source.data(), length, out.data(), size), size);
  }
  return std::u16string(out.begin(), out.end());
}

std::string Encode(unsigned cp, const std::u16string& wide, std::uint32_t flags = 0) {
  CodePageApi& api = CodePages();
  const std::vector<char16_t> source(wide.begin(), wide.end());
  const int length = static_cast<int>(source.size());
  const int size = api.WideCharToMultiByte(cp, flags, source.data(), length, nullptr, 0, nullptr, nullptr);
  std::vector<char> out(static_cast<std::size_t>(size));
  if (size > 0) {
    EXPECT_EQ(api.WideCharToMultiByte(cp, flags, source.data(), length, out.data(), size, nullptr, nullptr), size);
  }
  return std::string(out.begin(), out.end());
}

// A zero-terminated, exactly sized copy for the -1 length.
std::u16string DecodeTerminated(unsigned cp, const std::string& bytes) {
  CodePageApi& api = CodePages();
  std::vector<char> source(bytes.begin(), bytes.end());
  source.push_back('\0');
  source.shrink_to_fit();
  const int size = api.MultiByteToWideChar(cp, 0, source.data(), -1, nullptr, 0);
  std::vector<char16_t> out(static_cast<std::size_t>(size));
  if (size > 0) {
    EXPECT_EQ(api.MultiByteToWideChar(cp, 0, source.data(), -1, out.data(), size), size);
  }
  return std::u16string(out.begin(), out.end());
}

TEST(HostileInput, RandomBytesDecodeConsistentlyAndRoundTrip) {
  std::mt19937 rng(20261211);
  for (int round = 0; round < 3000; ++round) {
    const bool asciiRuns = round % 3 == 0;
    const std::string bytes = RandomBytes(rng, rng() % (asciiRuns ? 120 : 48) + 1, asciiRuns);
    for (const unsigned cp : {kCpGbk, kCp1252, kCpUtf8}) {
      const std::u16string wide = Decode(cp, bytes);
      ASSERT_LE(wide.size(), bytes.size());
      // Everything decoded maps back to bytes that decode to the same units.
      ASSERT_EQ(Decode(cp, Encode(cp, wide)), wide) << cp << " " << testing::PrintToString(bytes);
      // With -1 the text ends at its first zero, which is converted too.
      const std::string upToZero = bytes.substr(0, bytes.find('\0'));
      ASSERT_EQ(DecodeTerminated(cp, bytes), Decode(cp, upToZero + '\0'));
    }
    // The core conversions, with zeros and cut characters inside.
    const ByteArray wide = GbkToWide(bytes);
    const std::size_t uptoZero = bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0');
    ASSERT_EQ(wide.size(), 2 * (Decode(kCpGbk, bytes.substr(0, uptoZero)).size() + 1));
    const Text back = WideToGbk(wide);
    if (uptoZero > 0) {
      ASSERT_EQ(GbkToWide(back), wide);
    }
    ByteArray odd(wide);
    odd.push_back(0xD5);
    ASSERT_EQ(WideToGbk(odd), back);
    ASSERT_EQ(WideToText(TextToWide(bytes, kCpGbk)), back);
    EXPECT_EQ(U16ToText(TextToU16(bytes)), Encode(kCpGbk, Decode(kCpGbk, bytes)));
    UrlEncode(bytes, true, true);
    TrimBlanks(bytes);
    RemoveBlanks(bytes);
    FindText(bytes, bytes.substr(bytes.size() / 2), 1, true);
  }
}

TEST(HostileInput, RandomUnitsEncodeConsistently) {
  std::mt19937 rng(7);
  static const char16_t kInteresting[] = {0x0000, 0x0041, 0x0065, 0x0301, 0x00A2, 0x20AC, 0x5F20,
                                          0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xF8F5, 0xFFFD, 0xFFFF};
  for (int round = 0; round < 3000; ++round) {
    std::u16string wide;
    const bool asciiRuns = round % 3 == 0;
    const std::size_t length = rng() % (asciiRuns ? 120 : 40) + 1;
    for (std::size_t i = 0; i < length; ++i) {
      if (asciiRuns && rng() % 12 != 0) {
        wide.push_back(static_cast<char16_t>(u'a' + rng() % 26));
      } else {
        wide.push_back(rng() % 3 == 0 ? static_cast<char16_t>(rng() % 0x10000) : kInteresting[rng() % 14]);
      }
    }
    for (const unsigned cp : {kCpGbk, kCp1252, kCpUtf8}) {
      const std::string bytes = Encode(cp, wide);
      if (cp != kCpUtf8) Encode(cp, wide, kWcCompositeCheck);
      // What was encoded decodes and encodes to itself.
      ASSERT_EQ(Encode(cp, Decode(cp, bytes)), bytes) << cp;
    }
    ByteArray raw;
    for (const char16_t unit : wide) {
      raw.push_back(static_cast<std::uint8_t>(unit & 0xFF));
      raw.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    raw.pop_back();  // odd length
    WideToGbk(raw);
    WideToText(raw, kCpUtf8);
    WideToText(raw, kCpGbk);
  }
}

}  // namespace
}  // namespace sellmeter
