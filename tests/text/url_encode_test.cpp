#include "text/url_encode.h"

#include <gtest/gtest.h>

namespace sellmeter {
namespace {

struct EncodeCase {
  Text text;
  bool keepSafe;
  bool asUtf8;
  Text expected;
};

TEST(UrlEncode, Cases) {
  const EncodeCase cases[] = {
      {"", false, false, ""},
      {"", true, true, ""},
      {"ab1", false, false, "%61%62%31"},
      {"a b", false, false, "%61%20%62"},
      {"ab1", true, false, "ab1"},
      {"a b", true, false, "a%20b"},
      {"a_b~c/d", true, false, "a%5Fb%7Ec%2Fd"},
      {"a-b.c*d+", true, false, "a-b.c%2Ad%2B"},
      {"AZaz09", true, false, "AZaz09"},
      {"@[`{", true, false, "%40%5B%60%7B"},  // the neighbours of the letter ranges
      {"\n", false, false, "%0A"},
      {"\xD5\xC5", false, false, "%D5%C5"},
      {"\xD5\xC5", true, false, "%D5%C5"},
      {"\xD5\xC5", false, true, "%E5%BC%A0"},
      {"\xD5\xC5", true, true, "%E5%BC%A0"},
      {"\x81\x41", true, false, "%81A"},  // the byte test ignores double-byte characters
      {"\xFF\x00", false, false, "%FF"},  // a literal ends at its zero
  };
  for (const EncodeCase& c : cases) {
    EXPECT_EQ(UrlEncode(c.text, c.keepSafe, c.asUtf8), c.expected)
        << '"' << c.text << "\" keepSafe=" << c.keepSafe << " asUtf8=" << c.asUtf8;
  }
}

TEST(UrlEncode, EveryByteHasTwoUpperCaseDigits) {
  Text all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const Text encoded = UrlEncode(all);
  ASSERT_EQ(encoded.size(), 256u * 3);
  EXPECT_EQ(encoded.substr(0, 6), "%00%01");
  EXPECT_EQ(encoded.substr(0xAB * 3, 3), "%AB");
  EXPECT_EQ(encoded.substr(255 * 3), "%FF");
  // keepSafe keeps exactly 64 bytes.
  const Text kept = UrlEncode(all, true);
  EXPECT_EQ(kept.size(), 64u + 192u * 3);
}

TEST(ReportFormBody, EncodesTheNicknameByteForByte) {
  EXPECT_EQ(ReportFormBody("abc"), "nick=%61%62%63&B1=%B2%E9%D1%AF%D2%B5%BC%A8");
  EXPECT_EQ(ReportFormBody("\xD5\xC5 1"), "nick=%D5%C5%20%31&B1=%B2%E9%D1%AF%D2%B5%BC%A8");
  EXPECT_EQ(ReportFormBody(""), "nick=&B1=%B2%E9%D1%AF%D2%B5%BC%A8");
}

}  // namespace
}  // namespace sellmeter
