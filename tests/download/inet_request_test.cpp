#include "download/inet_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/wininet_api.h"
#include "tests/download/fake_wininet.h"

namespace sellmeter {
namespace {

using testing::FakeWinInet;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr const char* kPicture = "http://Img.Example.com/Pic/A.JPG?x=1";

std::string Str(const ByteArray& bytes) { return std::string(bytes.begin(), bytes.end()); }
ByteArray Bytes(const std::string& text) { return ByteArray(text.begin(), text.end()); }

class InetRequestTest : public ::testing::Test {
 protected:
  FakeWinInet fake;
  ScopedWinInetApi scoped{fake};
};

TEST_F(InetRequestTest, QueryCommandCallMakesTheExactCalls) {
  fake.body = std::string(2500, 'p');
  const ByteArray body = InetRequest(kPicture);
  EXPECT_EQ(Str(body), fake.body);

  const std::vector<std::string> expected = {
      "InternetOpenA",    "InternetConnectA",    "HttpOpenRequestA",    "HttpSendRequestA",
      "InternetReadFile", "InternetReadFile",    "InternetReadFile",    "InternetReadFile",
      "HttpQueryInfoA",   "InternetCloseHandle", "InternetCloseHandle", "InternetCloseHandle"};
  EXPECT_EQ(fake.calls, expected);

  EXPECT_EQ(fake.agent, kAgent);
  EXPECT_EQ(fake.accessType, kInternetOpenTypeDirect);
  EXPECT_EQ(fake.proxyName, "");
  EXPECT_EQ(fake.proxyBypass, "");
  EXPECT_EQ(fake.openFlags, 0u);

  EXPECT_EQ(fake.serverName, "img.example.com");
  EXPECT_EQ(fake.port, 80);
  EXPECT_EQ(fake.userName, "");
  EXPECT_EQ(fake.password, "");
  EXPECT_EQ(fake.service, kInternetServiceHttp);
  EXPECT_EQ(fake.connectFlags, 0u);
  EXPECT_EQ(fake.connectContext, 0u);

  EXPECT_EQ(fake.verb, "GET");
  EXPECT_EQ(fake.objectName, "/Pic/A.JPG?x=1");
  EXPECT_EQ(fake.version, "HTTP/1.1");
  EXPECT_EQ(fake.referrer, "");
  EXPECT_TRUE(fake.acceptTypesNull);
  EXPECT_EQ(fake.requestFlags, 0x80000000u | 0x10u | 0x4000u);
  EXPECT_EQ(fake.requestContext, 0u);

  const std::string block =
      std::string("Accept: */*\r\nReferer: ") + kPicture + "\r\nAccept-Language: zh-cn";
  EXPECT_EQ(fake.sentHeaders, block);
  EXPECT_EQ(fake.sentHeadersLength, block.size());
  EXPECT_FALSE(fake.optionalNull);
  EXPECT_EQ(fake.optional, "");

  EXPECT_EQ(fake.readSizes, (std::vector<std::uint32_t>{1024, 1024, 1024, 1024}));
  EXPECT_EQ(fake.queryLevel, 22u);
  EXPECT_EQ(fake.queryLength, 5000u);
  EXPECT_TRUE(fake.queryIndexNull);
  EXPECT_EQ(fake.closed, (std::vector<InetHandle>{fake.request(), fake.connection(), fake.root()}));
}

TEST_F(InetRequestTest, SchemeAndProxyChooseFlagsAndProxyName) {
  struct Case {
    const char* url;
    const char* proxy;
    std::uint32_t access;
    const char* proxyName;
    std::uint32_t schemeFlag;
    int port;
  };
  const Case cases[] = {
      {"HTTPS://Img.Example.com/p.png", "", kInternetOpenTypeDirect, "", kInternetFlagSecure, 443},
      {"https://img.example.com/p.png", "10.0.0.9:3128", kInternetOpenTypeProxy, "10.0.0.9:3128",
       kInternetFlagSecure, 443},
      {"http://img.example.com:81/p.png", "10.0.0.9:3128", kInternetOpenTypeProxy,
       "http=10.0.0.9:3128", kInternetFlagIgnoreRedirectToHttps, 81},
  };
  for (const Case& c : cases) {
    FakeWinInet local;
    ScopedWinInetApi use(local);
    InetRequestOptions options;
    options.proxy = c.proxy;
    InetRequest(c.url, options);
    SCOPED_TRACE(c.url);
    EXPECT_EQ(local.accessType, c.access);
    EXPECT_EQ(local.proxyName, c.proxyName);
    EXPECT_EQ(local.proxyBypass, "");
    EXPECT_EQ(local.requestFlags, kInternetFlagReload | kInternetFlagNeedFile | c.schemeFlag);
    EXPECT_EQ(local.port, c.port);
    EXPECT_EQ(local.objectName, "/p.png");
  }
}

TEST_F(InetRequestTest, MethodsAndBodies) {
  struct Case {
    int method;
    const char* verb;
    bool bodyBytesGiven;  // a non-empty bodyBytes beats body
    const char* sent;     // the optional data sent
    bool contentType;
  };
  const Case cases[] = {
      {8, "GET", false, "", false},        {-1, "GET", true, "", false},
      {1, "POST", false, "a=1", true},     {1, "POST", true, "raw", true},
      {2, "HEAD", false, "a=1", false},    {3, "PUT", true, "raw", false},
      {7, "CONNECT", false, "a=1", false},
  };
  for (const Case& c : cases) {
    FakeWinInet local;
    ScopedWinInetApi use(local);
    InetRequestOptions options;
    options.method = c.method;
    options.body = "a=1";
    ByteArray bytes = c.bodyBytesGiven ? Bytes("raw") : ByteArray{};
    options.bodyBytes = &bytes;
    InetRequest("http://h.example/f", options);
    SCOPED_TRACE(c.method);
    EXPECT_EQ(local.verb, c.verb);
    EXPECT_EQ(local.optional, c.sent);
    // A GET leaves the caller's bytes alone; otherwise an empty bodyBytes receives the body.
    EXPECT_EQ(Str(bytes), c.bodyBytesGiven ? "raw" : (c.verb == std::string("GET") ? "" : "a=1"));
    EXPECT_EQ(local.sentHeaders.find("Content-Type: application/x-www-form-urlencoded") !=
                  std::string::npos,
              c.contentType);
  }
}

TEST_F(InetRequestTest, PostKeepsCallerContentTypeWhenExactCase) {
  for (const char* given : {"Content-Type: text/plain", "content-type: text/plain"}) {
    FakeWinInet local;
    ScopedWinInetApi use(local);
    Text headers = given;
    InetRequestOptions options;
    options.method = 1;
    options.extraHeaders = &headers;
    InetRequest("http://h.example/f", options);
    const bool defaultAdded =
        headers.find("\r\nContent-Type: application/x-www-form-urlencoded") != std::string::npos;
    EXPECT_EQ(defaultAdded, given[0] == 'c') << given;
  }
}

TEST_F(InetRequestTest, AgentAndHeaderBlockFromCallerLines) {
  struct Case {
    const char* given;
    const char* agent;
    const char* block;  // with URL as "{u}"
  };
  const Case cases[] = {
      // The exact-case markers miss a lower-case line: the text after the first colon is used.
      {"user-agent: X", "X",
       "user-agent: X\r\nAccept: */*\r\nReferer: {u}\r\nAccept-Language: zh-cn"},
      {"User-Agent: \xA1\xA1Pic Bot 1.0 \r\nAccept: image/*", "Pic Bot 1.0",
       "User-Agent: \xA1\xA1Pic Bot 1.0 \r\nAccept: image/*\r\nReferer: {u}"
       "\r\nAccept-Language: zh-cn"},
      // A lower-case Accept-Language does not count: the default line follows.
      {"accept-language: en", kAgent,
       "accept-language: en\r\nAccept: */*\r\nReferer: {u}\r\nAccept-Language: zh-cn"},
      {"Referer: http://shop.example/\r\nAccept-Language: en", kAgent,
       "Referer: http://shop.example/\r\nAccept-Language: en\r\nAccept: */*"},
      // Everything after the block's first colon, when the value is empty in exact case.
      {"Accept: a\r\nuser-agent: X", "a\r\nuser-agent: X",
       "Accept: a\r\nuser-agent: X\r\nReferer: {u}\r\nAccept-Language: zh-cn"},
  };
  const std::string url = "http://h.example/p.jpg";
  for (const Case& c : cases) {
    FakeWinInet local;
    ScopedWinInetApi use(local);
    Text headers = c.given;
    InetRequestOptions options;
    options.extraHeaders = &headers;
    InetRequest(url, options);
    std::string block = c.block;
    if (const auto at = block.find("{u}"); at != std::string::npos) block.replace(at, 3, url);
    SCOPED_TRACE(c.given);
    EXPECT_EQ(local.agent, c.agent);
    EXPECT_EQ(local.sentHeaders, block);
    EXPECT_EQ(headers, block) << "the caller's variable holds the block sent";
  }
}

TEST_F(InetRequestTest, LineEndsInTheUrlStayInsideTheRefererLine) {
  InetRequest(std::string("http://h.example/a\r\nX-Injected: 1\x7f.jpg"));
  EXPECT_EQ(fake.sentHeaders,
            "Accept: */*\r\nReferer: http://h.example/a%0D%0AX-Injected: 1%7F.jpg\r\n"
            "Accept-Language: zh-cn");
  EXPECT_EQ(fake.objectName, "/a\r\nX-Injected: 1\x7f.jpg");
}

TEST_F(InetRequestTest, CookiesGivenOrOmitted) {
  fake.rawHeaders = "HTTP/1.1 200 OK\r\nset-cookie: sid=5; path=/\r\nSET-COOKIE: k=v\r\n\r\n";
  struct Case {
    const char* cookies;  // nullptr: omitted
    bool merge;
    const char* cookieLine;  // expected tail of the block, or "" for none
    const char* cookiesAfter;
    const char* cookiesOut;
  };
  const Case cases[] = {
      {nullptr, true, "", "", "sid=5; k=v"},
      {"", true, "", "sid=5; k=v", "sid=5; k=v"},
      {"a=1", true, "\r\nCookie: a=1", "sid=5; k=v; a=1", "sid=5; k=v; a=1"},
      {"Cookie: a=1", true, "\r\nCookie: a=1", "sid=5; k=v; Cookie:a=1", "sid=5; k=v; Cookie:a=1"},
      {"a=1; sid=4", false, "\r\nCookie: a=1; sid=4", "a=1; sid=4", "sid=5; k=v"},
  };
  for (const Case& c : cases) {
    FakeWinInet local;
    local.rawHeaders = fake.rawHeaders;
    ScopedWinInetApi use(local);
    Text cookies = c.cookies != nullptr ? c.cookies : "";
    Text cookiesOut = "old", responseHeaders;
    InetRequestOptions options;
    if (c.cookies != nullptr) options.cookies = &cookies;
    options.cookiesOut = &cookiesOut;
    options.responseHeaders = &responseHeaders;
    options.autoMergeCookies = c.merge;
    InetRequest("http://h.example/p.jpg", options);
    SCOPED_TRACE(c.cookies != nullptr ? c.cookies : "(omitted)");
    EXPECT_EQ((local.requestFlags & kInternetFlagNoCookies) != 0, c.cookies != nullptr);
    const std::string tail = "Accept-Language: zh-cn" + std::string(c.cookieLine);
    EXPECT_EQ(local.sentHeaders.substr(local.sentHeaders.size() - tail.size()), tail);
    EXPECT_EQ(cookies, c.cookiesAfter);
    EXPECT_EQ(cookiesOut, c.cookiesOut);
    EXPECT_EQ(responseHeaders,
              "HTTP/1.1 200 OK\r\nSet-Cookie: sid=5; path=/\r\nSet-Cookie: k=v\r\n\r\n");
  }
}

TEST_F(InetRequestTest, HandlesThatDoNotOpenLeaveEverythingAsPassed) {
  struct Case {
    bool open, connect, request;
    std::vector<int> closed;  // 0 root, 1 connection
  };
  const Case cases[] = {
      {false, true, true, {}}, {true, false, true, {0}}, {true, true, false, {1, 0}}};
  for (const Case& c : cases) {
    FakeWinInet local;
    local.openFails = !c.open;
    local.connectFails = !c.connect;
    local.requestFails = !c.request;
    local.body = "never";
    ScopedWinInetApi use(local);
    Text cookies = "a=1", cookiesOut = "out", headers = "X-A: 1", responseHeaders = "resp";
    ByteArray bytes;
    InetRequestOptions options;
    options.method = 1;
    options.body = "b=2";
    options.cookies = &cookies;
    options.cookiesOut = &cookiesOut;
    options.extraHeaders = &headers;
    options.responseHeaders = &responseHeaders;
    options.bodyBytes = &bytes;
    EXPECT_TRUE(InetRequest("http://h.example/p", options).empty());
    EXPECT_EQ(cookies, "a=1");
    EXPECT_EQ(cookiesOut, "out");
    EXPECT_EQ(headers, "X-A: 1");
    EXPECT_EQ(responseHeaders, "resp");
    EXPECT_TRUE(bytes.empty());
    std::vector<InetHandle> closed;
    for (int which : c.closed) closed.push_back(which == 0 ? local.root() : local.connection());
    EXPECT_EQ(local.closed, closed);
  }
}

TEST_F(InetRequestTest, FailedSendGivesNoBytesButTheComposedBlock) {
  fake.sendFails = true;
  fake.body = "unreachable";
  Text headers, responseHeaders, cookiesOut = "old";
  InetRequestOptions options;
  options.extraHeaders = &headers;
  options.responseHeaders = &responseHeaders;
  options.cookiesOut = &cookiesOut;
  EXPECT_TRUE(InetRequest("http://h.example/p", options).empty());
  EXPECT_EQ(headers, "Accept: */*\r\nReferer: http://h.example/p\r\nAccept-Language: zh-cn");
  // The header query fails on a request never answered: the 5000 blanks stand.
  EXPECT_EQ(responseHeaders, std::string(5000, ' '));
  EXPECT_EQ(cookiesOut, "");
  EXPECT_EQ(fake.closed.size(), 3u);
}

TEST_F(InetRequestTest, ReadFailureKeepsTheBytesReadBefore) {
  fake.body = std::string(3000, 'x');
  fake.failReadAt = 2500;
  EXPECT_EQ(InetRequest("http://h.example/p").size(), 2048u);
  EXPECT_EQ(fake.calls[fake.calls.size() - 4], "HttpQueryInfoA");
}

TEST_F(InetRequestTest, HeadersTooLongForTheBufferLeaveTheBlanks) {
  fake.rawHeaders =
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX-Long: " + std::string(5000, 'l') + "\r\n\r\n";
  Text responseHeaders, cookiesOut = "old";
  InetRequestOptions options;
  options.responseHeaders = &responseHeaders;
  options.cookiesOut = &cookiesOut;
  InetRequest("http://h.example/p", options);
  EXPECT_EQ(responseHeaders, std::string(5000, ' '));
  EXPECT_EQ(cookiesOut, "");

  // 4999 bytes and the terminator fit exactly.
  FakeWinInet fits;
  fits.rawHeaders = "HTTP/1.1 200 OK\r\n";
  fits.rawHeaders += "X: " + std::string(4999 - fits.rawHeaders.size() - 7, 'f') + "\r\n\r\n";
  ASSERT_EQ(fits.rawHeaders.size(), 4999u);
  ScopedWinInetApi use(fits);
  InetRequest("http://h.example/p", options);
  EXPECT_EQ(responseHeaders, fits.rawHeaders);
}

}  // namespace
}  // namespace sellmeter
