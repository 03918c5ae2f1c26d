// Method table, header composition, TextBetween and the cookie texts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "http/compose_headers.h"
#include "http/cookies.h"
#include "http/method_table.h"
#include "http/text_between.h"
#include "text/gbk_text.h"

namespace sellmeter {
namespace {

const std::string kUa =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
const std::string kAccept = "Accept: text/html, application/xhtml+xml, */*\r\n";
const std::string kEncoding = "Accept-Encoding: gbk, GB2312\r\n";
const std::string kLanguage = "Accept-Language: zh-cn\r\n";
const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";
const std::string kCache = "Cache-Control: no-cache\r\n";

TEST(MethodTable, IndexesAndOutOfRange) {
  const char* expected[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(MethodName(i), expected[i]);
  for (int i : {8, -1, 1000, -2147483647 - 1}) EXPECT_EQ(MethodName(i), "GET") << i;
}

struct ComposeCase {
  const char* name;
  std::string extra;
  int method;
  std::string cookies;
  std::string expected;
};

TEST(ComposeHeaders, Table) {
  const ComposeCase cases[] = {
      {"defaults for GET", "", 0, "", kUa + kAccept + kEncoding + kLanguage + kCache},
      {"defaults for POST", "", 1, "", kUa + kAccept + kEncoding + kLanguage + kForm + kCache},
      {"PUT gets no form type", "", 3, "", kUa + kAccept + kEncoding + kLanguage + kCache},
      {"cookie line last", "", 0, "a=1; b=2",
       kUa + kAccept + kEncoding + kLanguage + kCache + "Cookie: a=1; b=2\r\n"},
      {"lower-case user agent suppresses the default", "user-agent: x", 0, "",
       "user-agent: x\r\n" + kAccept + kEncoding + kLanguage + kCache},
      {"lower-case content type does not", "content-type: text/plain", 1, "",
       "content-type: text/plain\r\n" + kUa + kAccept + kEncoding + kLanguage + kForm + kCache},
      {"Content-Type without blank suppresses", "Content-Type:text/xml", 1, "",
       "Content-Type:text/xml\r\n" + kUa + kAccept + kEncoding + kLanguage + kCache},
      {"X-Cookie suppresses the cookie line", "X-Cookie: 1", 0, "a=1",
       "X-Cookie: 1\r\n" + kUa + kAccept + kEncoding + kLanguage + kCache},
      {"substring anywhere counts", "X-Note: Accept: no", 0, "",
       "X-Note: Accept: no\r\n" + kUa + kEncoding + kLanguage + kCache},
      {"Accept-Encoding alone does not count as Accept", "Accept-Encoding: br", 0, "",
       "Accept-Encoding: br\r\n" + kUa + kAccept + kLanguage + kCache},
      {"trailing line end leaves an empty line", "A: 1\r\n", 0, "",
       "A: 1\r\n\r\n" + kUa + kAccept + kEncoding + kLanguage + kCache},
  };
  for (const ComposeCase& c : cases)
    EXPECT_EQ(ComposeHeaders(c.extra, c.method, c.cookies), c.expected) << c.name;
}

struct BetweenCase {
  const char* name;
  std::string text, left, right;
  long long start;
  bool ignoreCase;
  std::string expected;
};

TEST(TextBetween, Table) {
  const std::string quote = std::string(kQuotePlaceholder);
  // 啊 is B0 A1; "\xB0" "a" would be a match on a trail byte for the marker "a" otherwise.
  const BetweenCase cases[] = {
      {"set-cookie item keeps the blank", "Set-Cookie: a=1; path=/", "Set-Cookie:", ";", 1,
       false, " a=1"},
      {"no right marker", "Set-Cookie: a=1", "Set-Cookie:", ";", 1, false, ""},
      {"no left marker", "abc", "x", "c", 1, false, ""},
      {"adjacent markers", "<ab>", "<", "a", 1, false, ""},
      {"placeholder finds a quote", "src=\"pic.jpg\" x", quote, quote, 1, false, "pic.jpg"},
      {"placeholder inside a marker", "<img src=\"u\">", "src=" + quote, quote + ">", 1, false,
       "u"},
      {"right searched after left", "b]a[x]", "[", "]", 1, false, "x"},
      {"start skips the first", "[1][2]", "[", "]", 2, false, "2"},
      {"start below 1", "[1]", "[", "]", -7, false, "1"},
      {"start past the end", "[1]", "[", "]", 99, false, ""},
      {"case folded", "<TD>v</td>", "<td>", "</TD>", 1, true, "v"},
      {"case kept", "<TD>v</td>", "<td>", "</td>", 1, false, ""},
      {"no match on a trail byte", "\xC4\x5B" "x]" "[y]", "[", "]", 1, false, "y"},
      {"gbk text between", "<\xD5\xC5\xC8\xFD>", "<", ">", 1, false, "\xD5\xC5\xC8\xFD"},
  };
  for (const BetweenCase& c : cases)
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected) << c.name;
}

struct CollectCase {
  const char* name;
  std::string headers;
  std::string cookies;
  std::string rewritten;
};

TEST(CollectSetCookies, Table) {
  const CollectCase cases[] = {
      {"item without attributes", "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\n\r\n", "a=1",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\n\r\n"},
      {"no semicolon", "Set-Cookie: a=1\r\n", "a=1", "Set-Cookie: a=1\r\n"},
      {"lower case rewritten", "set-cookie: a=1; x\r\nSET-COOKIE: b=2\r\n", "a=1; b=2",
       "Set-Cookie: a=1; x\r\nSet-Cookie: b=2\r\n"},
      {"name merely containing it, with ;", "X-Set-Cookie-Note: q; r\r\nSet-Cookie: b=2; p\r\n",
       "; b=2", "X-Set-Cookie-Note: q; r\r\nSet-Cookie: b=2; p\r\n"},
      {"two lines in order", "Set-Cookie: z=9; a\r\nSet-Cookie: y=8; b\r\n", "z=9; y=8",
       "Set-Cookie: z=9; a\r\nSet-Cookie: y=8; b\r\n"},
      {"none", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "",
       "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
      {"full-width blanks trimmed", "Set-Cookie:\xA1\xA1k=v\xA1\xA1\r\n", "k=v",
       "Set-Cookie:\xA1\xA1k=v\xA1\xA1\r\n"},
      {"every Set-Cookie: removed without ;", "Set-Cookie: a=1 set-cookie:\r\n", "a=1",
       "Set-Cookie: a=1 Set-Cookie:\r\n"},
  };
  for (const CollectCase& c : cases) {
    std::string headers = c.headers;
    EXPECT_EQ(CollectSetCookies(headers), c.cookies) << c.name;
    EXPECT_EQ(headers, c.rewritten) << c.name;
  }
}

struct MergeCase {
  const char* name;
  std::string sent, fresh, merged;
};

TEST(MergeCookies, Table) {
  const MergeCase cases[] = {
      {"fresh replaces sent", "a=1; b=2", "a=3", "a=3; b=2"},
      {"deleted removes both", "a=1; b=2", "a=deleted", "b=2"},
      {"nothing fresh", "a=1; b=2", "", "a=1; b=2"},
      {"first sent of a name", "a=1; a=2", "", "a=1"},
      {"fresh not reduced by name", "", "a=1; a=2", "a=1; a=2"},
      {"exact repeats go", "", "a=1; a=1", "a=1"},
      {"blanks removed from values", "x=hello world", "", "x=helloworld"},
      {"bare word deleted stays", "deleted; x=deleted", "", "deleted"},
      {"empty item kept", "a=1;;b=2", "", "a=1; ; b=2"},
      {"both empty", "", "", ""},
      {"names compared with case", "A=1", "a=2", "a=2; A=1"},
      {"fresh come first", "s=1", "f=2; g=3", "f=2; g=3; s=1"},
  };
  for (const MergeCase& c : cases) {
    std::string sent = c.sent, fresh = c.fresh;
    EXPECT_EQ(MergeCookies(sent, fresh), c.merged) << c.name;
    EXPECT_EQ(sent, c.merged) << c.name;
    EXPECT_EQ(fresh.find(' '), std::string::npos) << c.name;
  }
}

TEST(CookieItems, NamesAndDuplicates) {
  EXPECT_EQ(CookieName(" a =1"), "a");
  EXPECT_EQ(CookieName("word"), "word");
  EXPECT_EQ(CookieName("=v"), "");
  EXPECT_EQ(CookieName("k=v=w"), "k");
  EXPECT_EQ(RemoveDuplicateItems("a; b; a; c; b", "; "), "a; b; c");
  EXPECT_EQ(RemoveDuplicateItems("", "; "), "");
  EXPECT_EQ(RemoveDuplicateItems("x|x|", "|"), "x");
}


// Random byte soup (lead bytes, cut characters, separators, blanks): no read outside the
// inputs, and the invariants every caller relies on hold.
TEST(CookieTexts, HoldTheirShapeOnArbitraryBytes) {
  std::mt19937 random(20261211);
  const std::string alphabet[] = {"a", "=", ";", " ", "\xA1\xA1", "\xA1", "\xD5\xC5", "\x81",
                                  "deleted", "Set-Cookie", "sEt-cOoKiE:", "\r\n", "\r", "\0", "\""};
  auto soup = [&] {
    std::string text;
    for (int n = random() % 24; n > 0; --n) text += alphabet[random() % std::size(alphabet)];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string sent = soup(), fresh = soup(), headers = soup();
    const std::string merged = MergeCookies(sent, fresh);
    EXPECT_EQ(sent, merged);
    for (std::string_view item : SplitItems(merged, "; ")) {
      // A blank stays only as the second byte of a (broken) double-byte character.
      for (std::size_t at = item.find(' '); at != std::string_view::npos; at = item.find(' ', at + 1))
        EXPECT_TRUE(at > 0 && IsGbkLeadByte(static_cast<unsigned char>(item[at - 1]))) << merged;
      EXPECT_FALSE(item.size() >= 8 && item.substr(item.size() - 8) == "=deleted") << merged;
    }
    EXPECT_EQ(RemoveDuplicateItems(merged, "; "), merged);
    CollectSetCookies(headers);
    // Every spelling left in the block is the canonical one.
    for (std::size_t at = FindText(headers, "Set-Cookie", 1, true); at != 0;
         at = FindText(headers, "Set-Cookie", at + 1, true))
      EXPECT_EQ(headers.substr(at - 1, 10), "Set-Cookie");
    const std::string between = TextBetween(headers, soup(), soup(), random() % 8 - 2);
    EXPECT_TRUE(between.empty() || headers.find(between) != std::string::npos);
    EXPECT_TRUE(ComposeHeaders(soup(), random() % 10 - 1, soup()).ends_with("\r\n"));
  }
}

}  // namespace
}  // namespace sellmeter
