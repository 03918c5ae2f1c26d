#include "text/gbk_text.h"

#include <gtest/gtest.h>

namespace sellmeter {
namespace {

struct FindCase {
  Text haystack;
  Text needle;
  std::size_t start;
  bool ignoreCase;
  std::size_t expected;
};

TEST(FindText, Cases) {
  const FindCase cases[] = {
      {"hello world", "world", 1, false, 7},
      {"hello world", "o", 6, false, 8},
      {"hello world", "o", 0, false, 5},  // a start below 1 counts as 1
      {"hello", "hello", 1, false, 1},
      {"hello", "hello!", 1, false, 0},
      {"hello", "", 1, false, 0},
      {"hello", "o", 6, false, 0},
      {"hello", "o", 99, false, 0},
      {"", "a", 1, false, 0},
      {"Set-COOKIE: a", "set-cookie", 1, false, 0},
      {"Set-COOKIE: a", "set-cookie", 1, true, 1},
      {"xx Location: y", "LOCATION:", 2, true, 4},
      // 81 41 is one character: "A" inside it is not a match, the lone "A" after it is.
      {"\x81\x41\x41", "A", 1, false, 3},
      {"\x81\x41\x41", "a", 1, true, 3},
      {"\x81\x41", "A", 1, false, 0},
      // D5 C5 D5 C5: the middle pair C5 D5 is made of two characters' halves.
      {"\xD5\xC5\xD5\xC5", "\xC5\xD5", 1, false, 0},
      // The walk begins at start: from the second byte, C5 D5 pairs up and D5 C5 is cut.
      {"\xD5\xC5\xD5\xC5", "\xD5\xC5", 2, false, 0},
      {"\xD5\xC5\xD5\xC5", "\xD5\xC5", 3, false, 3},
      {"\xB0\xA1\xA1\xA1", "\xA1\xA1", 1, false, 3},
      {"\xB0\xA1\xA1x", "\xA1\xA1", 1, false, 0},
      // Folding touches only single-byte characters: 81 41 and 81 61 stay different.
      {"\x81\x61", "\x81\x41", 1, true, 0},
      {"x\x81\x41Y", "\x81\x41y", 1, true, 2},
      {"\xD5\xC5", "\xD5", 1, false, 1},  // a match may begin on a first byte
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindText(c.haystack, c.needle, c.start, c.ignoreCase), c.expected)
        << '"' << c.haystack << "\" / \"" << c.needle << "\" from " << c.start << " ignoreCase=" << c.ignoreCase;
  }
}

TEST(FindText, LongTextWithManyFalseByteMatches) {
  // Every "\xC5\xD5" straddles two characters; the one real match is at the end.
  Text haystack;
  for (int i = 0; i < 10000; ++i) haystack += "\xD5\xC5";
  haystack += "x\xC5\xD5";
  EXPECT_EQ(FindText(haystack, "\xC5\xD5"), haystack.size() - 1);
  EXPECT_EQ(FindText(haystack, "X\xC5", 1, true), haystack.size() - 2);
}

TEST(Blanks, TrimAndRemove) {
  const struct {
    Text text;
    Text trimmed;
    Text removed;
  } cases[] = {
      {"", "", ""},
      {"   ", "", ""},
      {" \xA1\xA1 a b \xA1\xA1", "a b", "ab"},
      {"\ta\r\n ", "\ta\r\n", "\ta\r\n"},  // tabs and line ends are not blanks
      // B0 A1 is a character; the A1 A1 inside "B0 A1 A1 ..." is not a blank.
      {"\xB0\xA1\xA1\xB0", "\xB0\xA1\xA1\xB0", "\xB0\xA1\xA1\xB0"},
      {"x\xB0\xA1\xA1\xA1", "x\xB0\xA1", "x\xB0\xA1"},
      {"a\xA1", "a\xA1", "a\xA1"},  // a lone lead byte at the end stays
      {"\xA1\xA1\xA1", "\xA1", "\xA1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimBlanks(c.text), c.trimmed) << '"' << c.text << '"';
    EXPECT_EQ(RemoveBlanks(c.text), c.removed) << '"' << c.text << '"';
  }
}

TEST(AsciiCase, FoldsOnlySingleByteLetters) {
  EXPECT_EQ(AsciiLower("HTTP://Host:80/A"), "http://host:80/a");
  EXPECT_EQ(AsciiUpper("set-cookie: a=b"), "SET-COOKIE: A=B");
  // The second bytes of 81 41 and 81 61 are letters in ASCII, not here.
  EXPECT_EQ(AsciiLower("\x81\x41Z"), "\x81\x41z");
  EXPECT_EQ(AsciiUpper("\x81\x61z"), "\x81\x61Z");
  EXPECT_EQ(AsciiLower("\xC0\xE0"), "\xC0\xE0");
  EXPECT_EQ(AsciiUpper("a\x81"), "A\x81");
}

}  // namespace
}  // namespace sellmeter
