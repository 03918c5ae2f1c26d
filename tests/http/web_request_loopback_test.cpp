// WebRequest through the real Linux layers against servers on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "http/linux/winhttp_linux.h"
#include "http/web_request.h"
#include "loopback_server.h"
#include "test_tools.h"
#include "text/codepage.h"

namespace sellmeter {
namespace {

using testing::LoopbackServer;
using testing::RecordedRequest;
using testing::Reply;
using testing::Respond;

Text Gbk(std::u16string_view text) { return U16ToText(text, kCpGbk); }

struct Outcome {
  Text page, status, headers, location = "untouched", cookiesOut;
  ByteArray bytes;
};

Outcome Fetch(const std::string& url, WebRequestOptions o = {}) {
  Outcome out;
  o.status = &out.status;
  o.responseHeaders = &out.headers;
  o.location = &out.location;
  o.cookiesOut = &out.cookiesOut;
  o.responseBytes = &out.bytes;
  out.page = WebRequest(url, o);
  return out;
}

TEST(WebRequestLoopback, TheQueryPostOnTheWire) {
  LoopbackServer server([](const RecordedRequest&) {
    return Respond("200 OK", "Content-Type: text/html\r\n", "<html>report</html>");
  });
  WebRequestOptions o;
  o.method = 1;
  o.body = "nick=%D5%C5&B1=%B2%E9%D1%AF%D2%B5%BC%A8";
  Outcome out = Fetch(server.Url("/yeji/"), o);
  EXPECT_EQ(out.page, "<html>report</html>");
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.headers,
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 19\r\n\r\n");
  ASSERT_EQ(server.Requests().size(), 1u);
  const RecordedRequest wire = server.Requests()[0];
  EXPECT_EQ(wire.requestLine, "POST /yeji/ HTTP/1.1");
  const std::vector<std::string> lines = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
      "Accept: text/html, application/xhtml+xml, */*",
      "Accept-Encoding: gbk, GB2312",
      "Accept-Language: zh-cn",
      "Content-Type: application/x-www-form-urlencoded",
      "Cache-Control: no-cache",
      "Connection: Keep-Alive",
      "Content-Length: 39",
  };
  EXPECT_EQ(wire.headerLines, lines);
  EXPECT_EQ(wire.body, o.body);
}

TEST(WebRequestLoopback, CallerHeadersReplaceAndCookiesAreSent) {
  LoopbackServer server([](const RecordedRequest&) { return Respond("200 OK", "", ""); });
  Text cookies = "a=1; b=2";
  WebRequestOptions o;
  o.extraHeaders = "user-agent: probe\r\nX-Trace: \xD5\xC5";
  o.cookies = &cookies;
  o.method = 3;
  Fetch(server.Url("/put"), o);
  const RecordedRequest wire = server.Requests().at(0);
  EXPECT_EQ(wire.requestLine, "PUT /put HTTP/1.1");
  EXPECT_EQ(wire.Header("User-Agent"), "probe");
  EXPECT_EQ(wire.Header("X-Trace"), "\xD5\xC5");  // GBK bytes, unchanged
  EXPECT_EQ(wire.Header("Cookie"), "a=1; b=2");
  EXPECT_EQ(wire.Header("Content-Length"), "0");
  EXPECT_FALSE(wire.HasHeader("Content-Type"));
}

Reply LoginFlow(const RecordedRequest& r) {
  if (r.requestLine.starts_with("POST /login"))
    return Respond("302 Found", "Set-Cookie: sid=42; Path=/\r\nLocation: /home\r\n", "go");
  return Respond("200 OK", "sEt-CoOkIe: seen=1; HttpOnly\r\n", "cookie[" + r.Header("Cookie") + "]");
}

TEST(WebRequestLoopback, RedirectsCarryTheirCookiesOnlyWhenCookiesAreGiven) {
  LoopbackServer server(LoginFlow);
  WebRequestOptions given;
  given.method = 1;
  Text cookies = "pre=0";
  given.cookies = &cookies;
  Outcome out = Fetch(server.Url("/login"), given);
  EXPECT_EQ(out.page, "cookie[sid=42; pre=0]");  // one Cookie line on the hop
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(server.Requests().at(1).requestLine, "GET /home HTTP/1.1");
  // Only the final response's cookies are collected; the odd letter case is rewritten.
  EXPECT_NE(out.headers.find("\r\nSet-Cookie: seen=1; HttpOnly\r\n"), std::string::npos);
  EXPECT_EQ(out.cookiesOut, "seen=1; pre=0");
  EXPECT_EQ(cookies, "seen=1; pre=0");
  EXPECT_EQ(out.location, "untouched");

  WebRequestOptions omitted;
  omitted.method = 1;
  EXPECT_EQ(Fetch(server.Url("/login"), omitted).page, "cookie[]");

  WebRequestOptions stay;
  stay.method = 1;
  stay.noRedirect = true;
  out = Fetch(server.Url("/login"), stay);
  EXPECT_EQ(out.status, "302 Found");
  EXPECT_EQ(out.location, "/home");
  EXPECT_EQ(out.cookiesOut, "sid=42");
  EXPECT_EQ(out.page, "go");
}

TEST(WebRequestLoopback, ResponseShapes) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.starts_with("GET /two-locations"))
      return Respond("301 Moved", "Location: /one\r\nLocation: /two\r\n", "");
    if (r.requestLine.starts_with("GET /missing"))
      return Respond("404 Not Found", "", "no such page");
    if (r.requestLine.starts_with("GET /zero"))
      return Respond("200 OK", "", std::string("before\0after", 12));
    Reply chunked;
    chunked.bytes =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    return chunked;
  });
  WebRequestOptions stay;
  stay.noRedirect = true;
  Outcome out = Fetch(server.Url("/two-locations"), stay);
  EXPECT_EQ(out.location, "/two");
  EXPECT_EQ(out.status, "301 Moved");

  out = Fetch(server.Url("/missing"));
  EXPECT_EQ(out.status, "404 Not Found");
  EXPECT_EQ(out.page, "no such page");

  out = Fetch(server.Url("/zero"));
  EXPECT_EQ(out.page, "before");
  EXPECT_EQ(out.bytes.size(), 12u);

  out = Fetch(server.Url("/chunked"));
  EXPECT_EQ(out.page, "hello world");
  EXPECT_EQ(out.bytes.size(), 11u);
}

TEST(WebRequestLoopback, ServersThatStallCloseEarlyOrSendGarbage) {
  LoopbackServer server([](const RecordedRequest& r) {
    Reply reply;
    if (r.requestLine.starts_with("GET /silent")) {
      reply.hangBeforeWriting = true;
    } else if (r.requestLine.starts_with("GET /early")) {
      reply = Respond("200 OK", "", std::string(100, 'b'));
      reply.bytes.resize(reply.bytes.size() - 60);
      reply.after = Reply::After::kClose;
    } else if (r.requestLine.starts_with("GET /stall-body")) {
      reply = Respond("200 OK", "", std::string(100, 'c'));
      reply.bytes.resize(reply.bytes.size() - 50);
      reply.after = Reply::After::kHang;
    } else {
      reply.bytes = "SSH-2.0-OpenSSH_9.2\r\n\x01\x02\x03";
      reply.after = Reply::After::kClose;
    }
    return reply;
  });
  WebRequestOptions quick;
  quick.timeoutSeconds = 1;
  const auto begin = std::chrono::steady_clock::now();
  Outcome out = Fetch(server.Url("/silent"), quick);
  EXPECT_EQ(out.status, Gbk(u"712 服务器未响应!"));
  EXPECT_EQ(out.page, "");
  EXPECT_EQ(out.headers, "");
  // Ends after the timeout, not never (the bound is loose on purpose: this is no speed test).
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));

  out = Fetch(server.Url("/early"), quick);
  EXPECT_EQ(out.status, "200 OK");  // the read failure is overwritten by the status
  EXPECT_EQ(out.page, std::string(40, 'b'));

  out = Fetch(server.Url("/stall-body"), quick);
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.page, std::string(50, 'c'));

  out = Fetch(server.Url("/garbage"), quick);
  EXPECT_EQ(out.status, Gbk(u"712 服务器未响应!"));
}

TEST(WebRequestLoopback, BadAddressesFailWithTheirTexts) {
  const Text crack = Gbk(u"701 解析URL地址失败!");
  const Text send = Gbk(u"711 发送请求失败!");
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  struct Case {
    std::string url;
    Text status;
  } cases[] = {
      {"", crack},
      {"example.com/path", crack},
      {"ftp://example.com/", crack},
      {"http://", crack},
      {"http:///path", crack},
      {"http://:80/", crack},
      {"http://host:99999/", crack},
      {"http://host:12ab/", crack},
      {"http://ho st/", crack},
      {"http://host\x01/", crack},
      {"http//host/", crack},
      {"http://no-such-host.invalid/", send},
      {refused, send},
  };
  for (const Case& c : cases) {
    WebRequestOptions o;
    o.timeoutSeconds = 3;
    Outcome out = Fetch(c.url, o);
    EXPECT_EQ(out.status, c.status) << c.url;
    EXPECT_EQ(out.page, "") << c.url;
    EXPECT_EQ(out.location, "untouched");
  }
}

TEST(WebRequestLoopback, OversizedHeadersAndBodies) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.starts_with("GET /headers")) {
      std::string lines;
      for (int i = 0; i < 4000; ++i) lines += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
      return Respond("200 OK", lines, "");
    }
    Reply endless;
    endless.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 500000000\r\n\r\n";
    endless.fillerBytes = 500000000;
    return endless;
  });
  Outcome out = Fetch(server.Url("/headers"));
  EXPECT_EQ(out.status, Gbk(u"712 服务器未响应!"));

  const std::size_t saved = WinHttpBodyLimit();
  SetWinHttpBodyLimit(std::size_t{4} << 20);
  out = Fetch(server.Url("/body"));
  SetWinHttpBodyLimit(saved);
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.bytes.size(), std::size_t{4} << 20);
  EXPECT_EQ(out.page.size(), std::size_t{4} << 20);
}

std::string Page(const std::string& charsetDeclaration, const std::string& text) {
  return "<html><head>" + charsetDeclaration + "<title>t</title></head><body>" + text +
         "</body></html>";
}

TEST(WebRequestLoopback, PagesInOtherCharsetsComeBackAsGbk) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";     // 中文
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
  const std::string big5 = "\xA4\xA4\xA4\xE5";
  struct Case {
    const char* name;
    std::string body;
    std::string expected;
  } cases[] = {
      {"utf-8", Page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", utf8),
       Page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", gbk)},
      {"big5", Page("<meta charset=\"big5\">", big5), Page("<meta charset=\"big5\">", gbk)},
      {"GBK in capitals", Page("<META CHARSET=GBK>", gbk), Page("<META CHARSET=GBK>", gbk)},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + Page("<meta charset=UTF-8>", utf8),
       Page("<meta charset=UTF-8>", gbk)},
      {"meta past the first 1024 bytes", std::string(1024, ' ') + Page("<meta charset=utf-8>", utf8),
       std::string(1024, ' ') + Page("<meta charset=utf-8>", utf8)},
      {"nonsense charset keeps the raw page", Page("<meta charset=\"x-no-such-set\">", gbk),
       Page("<meta charset=\"x-no-such-set\">", gbk)},
      {"header charset alone is not used", Page("", utf8), Page("", utf8)},
  };
  for (const Case& c : cases) {
    LoopbackServer server([&](const RecordedRequest&) {
      return Respond("200 OK", "Content-Type: text/html; charset=utf-8\r\n", c.body);
    });
    Outcome out = Fetch(server.Url());
    EXPECT_EQ(out.page, c.expected) << c.name;
    EXPECT_EQ(out.bytes, ByteArray(c.body.begin(), c.body.end())) << c.name;
  }
}

TEST(WebRequestLoopback, NoProxyMeansNoneEvenWhenTheEnvironmentNamesOne) {
  LoopbackServer server([](const RecordedRequest& r) { return Respond("200 OK", "", r.requestLine); });
  const std::string dead = "http://127.0.0.1:" + std::to_string(testing::RefusedPort());
  testing::ScopedEnv a("http_proxy", dead), b("HTTP_PROXY", dead), c("all_proxy", dead),
      d("ALL_PROXY", dead), e("https_proxy", dead);
  Outcome out = Fetch(server.Url("/direct"));
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.page, "GET /direct HTTP/1.1");
}

TEST(WebRequestLoopback, ThroughTinyproxy) {
  LoopbackServer server([](const RecordedRequest& r) {
    return Respond("200 OK", "", "via proxy " + r.requestLine);
  });
  testing::TinyProxy open;
  ASSERT_TRUE(open.running());
  WebRequestOptions o;
  o.proxy = open.address();
  Outcome out = Fetch(server.Url("/p?q=1"), o);
  EXPECT_EQ(out.page, "via proxy GET /p?q=1 HTTP/1.1");
  EXPECT_EQ(out.status, "200 OK");

  testing::TinyProxy guarded("alice", "s3cret");
  ASSERT_TRUE(guarded.running());
  o.proxy = guarded.address();
  out = Fetch(server.Url("/p"), o);
  EXPECT_EQ(out.status.substr(0, 4), "407 ");
  o.proxyUser = "alice";
  o.proxyPassword = "wrong";
  EXPECT_NE(Fetch(server.Url("/p"), o).status, "200 OK");
  o.proxyPassword = "s3cret";
  out = Fetch(server.Url("/p"), o);
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.page, "via proxy GET /p HTTP/1.1");
  for (const RecordedRequest& r : server.Requests()) EXPECT_FALSE(r.HasHeader("Proxy-Authorization"));
}

TEST(WebRequestLoopback, HttpsWithATestCertificateAuthority) {
  testing::TestCertificates certificates;
  ASSERT_TRUE(certificates.ok);
  LoopbackServer server(
      [](const RecordedRequest& r) {
        return Respond("200 OK", "", "secure " + r.requestLine + " " + r.Header("Authorization"));
      },
      certificates.certFile, certificates.keyFile);
  WebRequestOptions o;
  o.timeoutSeconds = 5;
  {
    testing::ScopedEnv trust("SSL_CERT_FILE", certificates.caFile);
    o.user = "u";
    o.password = "p";
    Outcome out = Fetch(server.Url("/s?x=1"), o);
    EXPECT_EQ(out.status, "200 OK");
    EXPECT_EQ(out.page, "secure GET /s?x=1 HTTP/1.1 Basic dTpw");

    testing::TinyProxy proxy;  // https goes through CONNECT with the proxy text alone
    ASSERT_TRUE(proxy.running());
    o.proxy = proxy.address();
    EXPECT_EQ(Fetch(server.Url("/t"), o).page, "secure GET /t HTTP/1.1 Basic dTpw");
    o.proxy.clear();
  }
  // Without the test CA the certificate is not trusted: the send fails.
  testing::ScopedEnv distrust("SSL_CERT_FILE", certificates.dir.path() + "/none.pem");
  EXPECT_EQ(Fetch(server.Url("/s"), o).status, Gbk(u"711 发送请求失败!"));
}

}  // namespace
}  // namespace sellmeter
