#include "download/url_split.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/gbk_text.h"

namespace sellmeter {
namespace {

struct UrlCase {
  const char* url;
  const char* host;
  const char* hostWithPort;
  int port;
  const char* path;
};

class UrlSplit : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlSplit, HostPortAndPath) {
  const UrlCase& c = GetParam();
  EXPECT_EQ(HostFromUrl(c.url), c.host);
  EXPECT_EQ(HostFromUrl(c.url, true), c.hostWithPort);
  EXPECT_EQ(PortFromUrl(c.url), c.port);
  EXPECT_EQ(PathFromUrl(c.url), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSplit,
    ::testing::Values(
        UrlCase{"http://Img.Example.COM:8080/Pic/A.JPG?x=1", "img.example.com",
                "img.example.com:8080", 8080, "/Pic/A.JPG?x=1"},
        UrlCase{"HTTPS://Img-2.Example.com/p.png", "img-2.example.com", "img-2.example.com", 443,
                "/p.png"},
        UrlCase{"https://Img.Example.com:8443/a/B", "img.example.com", "img.example.com:8443", 8443,
                "/a/B"},
        UrlCase{"http://Img.Example.com", "img.example.com", "img.example.com", 80, "/"},
        UrlCase{"Img.Example.com/p.png", "img.example.com", "img.example.com", 80, "/p.png"},
        // The host runs up to the first "/", so a query without a path stays in it.
        UrlCase{"http://Img.Example.com?x=1", "img.example.com?x=1", "img.example.com?x=1", 80,
                "/"},
        // A colon without a number reads as port 0.
        UrlCase{"http://Img.Example.com:/p", "img.example.com", "img.example.com:", 0, "/p"},
        // The scheme search is not anchored at the start.
        UrlCase{"Img.Example.com/?u=http://Other.Example.NET/", "other.example.net",
                "other.example.net", 80, "/"},
        UrlCase{"", "", "", 80, "/"},
        // The port text: blanks and a sign before the digits, reading stops at a non-digit,
        // the last colon counts, and a number past the int range stops at its limit.
        UrlCase{"http://x9: 81x/", "x9", "x9: 81x", 81, "/"},
        UrlCase{"http://x9:-5/", "x9", "x9:-5", -5, "/"},
        UrlCase{"http://u:p@x9:82/a", "u", "u:p@x9:82", 82, "/a"},
        UrlCase{"http://x9:99999999999/", "x9", "x9:99999999999", 2147483647, "/"},
        // The host is searched from the start of the URL, so one that also occurs in the
        // scheme takes the path from the scheme's "/".
        UrlCase{"http://h/a", "h", "h", 80, "//h/a"},
        // An unknown scheme is not one: "http://" is put in front of it.
        UrlCase{"ftp://Files.Example.com/x", "ftp", "ftp:", 0, "//Files.Example.com/x"},
        // "https" counts only when the whole "https://" opens the URL; the port rule looks at
        // five bytes only.
        UrlCase{"https:/x9/y", "https", "https:", 0, "/x9/y"},
        UrlCase{"httpsX://x9/y", "httpsx", "httpsx:", 0, "//x9/y"}));

TEST(UrlSplitGbk, PathKeepsDoubleByteTextAndCase) {
  // "图片" in GBK in the path; the path comes back byte for byte.
  const std::string url = "http://Img.Example.com/\xCD\xBC\xC6\xAC/A.JPG";
  EXPECT_EQ(HostFromUrl(url), "img.example.com");
  EXPECT_EQ(PathFromUrl(url), "/\xCD\xBC\xC6\xAC/A.JPG");

  // A double-byte character whose second byte is an ASCII capital ("\x81\x41") is not
  // lowered, and the host is still found in the URL for the path.
  const std::string gbkHost = "http://\x81\x41Shop.Example:81/P";
  EXPECT_EQ(HostFromUrl(gbkHost), "\x81\x41shop.example");
  EXPECT_EQ(PortFromUrl(gbkHost), 81);
  EXPECT_EQ(PathFromUrl(gbkHost), "/P");
}

TEST(UrlSplitBadInput, LongAndControlBytesNeverFail) {
  std::string longPath = "http://h.example/" + std::string(1 << 20, 'a');
  EXPECT_EQ(HostFromUrl(longPath), "h.example");
  EXPECT_EQ(PathFromUrl(longPath).size(), (1u << 20) + 1);
  const std::string control("http://h\r\nx:1/\x01\x7f a", 18);
  EXPECT_EQ(HostFromUrl(control), "h\r\nx");
  EXPECT_EQ(PortFromUrl(control), 1);
  EXPECT_EQ(PathFromUrl(control), std::string("/\x01\x7f a", 5));
}

// Whatever the bytes, the three results keep their shape: a path that starts with "/" and is
// the URL's own tail, a host without "/", and the port-less host a prefix of the one with port.
TEST(UrlSplitBadInput, RandomUrlsKeepTheResultShapes) {
  const std::string alphabet[] = {
      "h", "t", "p", "s",       "S",        "H",        ":",        "/",    "?",
      "1", " ", "-", "http://", "https://", "HTTPS://", "\xA1\xA1", "\x81", "\x81\x41"};
  std::mt19937 random(20261211);
  for (int i = 0; i < 3000; ++i) {
    std::string url;
    const int pieces = static_cast<int>(random() % 12);
    for (int k = 0; k < pieces; ++k) url += alphabet[random() % std::size(alphabet)];
    const Text host = HostFromUrl(url);
    const Text withPort = HostFromUrl(url, true);
    const Text path = PathFromUrl(url);
    SCOPED_TRACE(url);
    // Character-wise: after a lead byte, "/" and ":" are second bytes, not separators.
    EXPECT_EQ(FindText(host, "/"), 0u);
    EXPECT_EQ(FindText(host, ":"), 0u);
    EXPECT_EQ(withPort.compare(0, host.size(), host), 0);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_TRUE(path == "/" || (url.size() >= path.size() &&
                                url.compare(url.size() - path.size(), path.size(), path) == 0));
    (void)PortFromUrl(url);
  }
}

}  // namespace
}  // namespace sellmeter
