// The libcurl transport against a recording loopback server.
#include "http/linux/curl_transport.h"

#include <gtest/gtest.h>

#include <chrono>

#include "loopback_server.h"

namespace sellmeter::curl {
namespace {

using testing::LoopbackServer;
using testing::RecordedRequest;
using testing::Reply;
using testing::Respond;

Reply Ok(const RecordedRequest&) { return Respond("200 OK", "", "hello"); }

TEST(CurlTransport, SendsOnlyTheGivenLinesAndTheProtocolOnes) {
  LoopbackServer server(Ok);
  CurlRequest request;
  request.method = "POST";
  request.url = server.Url("/a/b?x=1&y=%20");
  request.headers = {"User-Agent: t", "X-Empty:", "x-lower: v"};
  std::string body("a\0b=c", 5);
  request.body = body;
  CurlResponse response = PerformExchange(request);
  ASSERT_EQ(response.failure, CurlFailure::kNone) << response.error;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "hello");
  EXPECT_EQ(response.headerBlock, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
  ASSERT_EQ(server.Requests().size(), 1u);
  const RecordedRequest wire = server.Requests()[0];
  EXPECT_EQ(wire.requestLine, "POST /a/b?x=1&y=%20 HTTP/1.1");
  EXPECT_EQ(wire.body, body);
  std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port()),
                                       "User-Agent: t", "X-Empty:", "x-lower: v",
                                       "Content-Length: 5"};
  EXPECT_EQ(wire.headerLines, expected);
}

TEST(CurlTransport, MethodsAndEmptyBodies) {
  LoopbackServer server(Ok);
  struct Case {
    std::string method, body;
    bool lengthWhenEmpty;
    std::string line, contentLength;
  } cases[] = {
      {"GET", "", false, "GET / HTTP/1.1", ""},
      {"POST", "", true, "POST / HTTP/1.1", "0"},
      {"PUT", "", true, "PUT / HTTP/1.1", "0"},
      {"DELETE", "", false, "DELETE / HTTP/1.1", ""},
      {"GET", "q", false, "GET / HTTP/1.1", "1"},
      {"OPTIONS", "zz", false, "OPTIONS / HTTP/1.1", "2"},
  };
  for (const Case& c : cases) {
    CurlRequest request;
    request.method = c.method;
    request.url = server.Url();
    request.body = c.body;
    request.contentLengthWhenEmpty = c.lengthWhenEmpty;
    ASSERT_EQ(PerformExchange(request).failure, CurlFailure::kNone) << c.method;
    RecordedRequest wire = server.Requests().back();
    EXPECT_EQ(wire.requestLine, c.line);
    EXPECT_EQ(wire.Header("Content-Length"), c.contentLength) << c.method;
    EXPECT_EQ(wire.body, c.body);
    EXPECT_FALSE(wire.HasHeader("Content-Type") || wire.HasHeader("Accept") ||
                 wire.HasHeader("Expect"));
  }
}

TEST(CurlTransport, RedirectsCarryCookiesOfTheExchangeWithTheEngineOn) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.starts_with("POST /start"))
      return Respond("302 Found", "Set-Cookie: s=1; path=/\nLocation: /next\r\n", "moved");
    return Respond("200 OK", "X-Final: yes\n", "done:" + r.Header("Cookie"));
  });
  for (bool engine : {true, false}) {
    CurlRequest request;
    request.method = "POST";
    request.url = server.Url("/start");
    request.body = "form";
    request.redirects = RedirectPolicy::kAlways;
    request.cookieEngine = engine;
    CurlResponse response = PerformExchange(request);
    ASSERT_EQ(response.failure, CurlFailure::kNone) << response.error;
    EXPECT_EQ(response.redirectCount, 1);
    EXPECT_EQ(std::string(response.body.begin(), response.body.end()),
              engine ? "done:s=1" : "done:");
    // The final block only, bare line feeds made CRLF.
    EXPECT_EQ(response.headerBlock, "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: " +
                                        std::string(engine ? "8" : "5") + "\r\n\r\n");
    // A 302 after POST continues as GET without the body.
    RecordedRequest second = server.Requests().back();
    EXPECT_EQ(second.requestLine, "GET /next HTTP/1.1");
    EXPECT_EQ(second.body, "");
  }
}

TEST(CurlTransport, RedirectPolicies) {
  LoopbackServer target(Ok);
  LoopbackServer server([&](const RecordedRequest&) {
    return Respond("307 Temporary Redirect", "Location: " + target.Url("/t") + "\r\n", "");
  });
  CurlRequest request;
  request.url = server.Url();
  request.redirects = RedirectPolicy::kNever;
  CurlResponse response = PerformExchange(request);
  EXPECT_EQ(response.status, 307);
  EXPECT_EQ(target.Requests().size(), 0u);
  request.redirects = RedirectPolicy::kNotHttpsToHttp;  // http to http is followed
  response = PerformExchange(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.finalUrl, target.Url("/t"));

  LoopbackServer loop([](const RecordedRequest&) {
    return Respond("302 Found", "Location: /again\r\n", "");
  });
  request.url = loop.Url();
  request.maxRedirects = 3;
  response = PerformExchange(request);
  EXPECT_EQ(response.failure, CurlFailure::kResponse);
  EXPECT_EQ(loop.Requests().size(), 4u);
}

TEST(CurlTransport, FailureStages) {
  CurlRequest request;
  request.receiveTimeoutMs = 300;
  request.connectTimeoutMs = 2000;

  request.url = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  EXPECT_EQ(PerformExchange(request).failure, CurlFailure::kConnect);

  LoopbackServer silent([](const RecordedRequest&) {
    Reply reply;
    reply.hangBeforeWriting = true;
    return reply;
  });
  request.url = silent.Url();
  auto begin = std::chrono::steady_clock::now();
  CurlResponse response = PerformExchange(request);
  EXPECT_EQ(response.failure, CurlFailure::kResponse);
  EXPECT_TRUE(response.timedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));

  LoopbackServer early([](const RecordedRequest&) {
    Reply reply = Respond("200 OK", "", std::string(1000, 'b'));
    reply.bytes.resize(reply.bytes.size() - 990);
    reply.after = Reply::After::kClose;
    return reply;
  });
  request.url = early.Url();
  response = PerformExchange(request);
  EXPECT_EQ(response.failure, CurlFailure::kBody);
  EXPECT_EQ(response.body.size(), 10u);
  EXPECT_EQ(response.status, 200);
  EXPECT_FALSE(response.headerBlock.empty());

  LoopbackServer garbage([](const RecordedRequest&) {
    Reply reply;
    reply.bytes = "garbage garbage\r\n\r\n";
    reply.after = Reply::After::kClose;
    return reply;
  });
  request.url = garbage.Url();
  EXPECT_EQ(PerformExchange(request).failure, CurlFailure::kResponse);
}

TEST(CurlTransport, LimitsOnHeadersAndBody) {
  LoopbackServer huge([](const RecordedRequest& r) {
    if (r.requestLine.starts_with("GET /head")) {
      std::string lines;
      for (int i = 0; i < 3000; ++i) lines += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
      return Respond("200 OK", lines, "");
    }
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 400000000\r\n\r\n";
    reply.fillerBytes = 400000000;
    return reply;
  });
  CurlRequest request;
  request.url = huge.Url("/head");
  CurlResponse response = PerformExchange(request);
  EXPECT_EQ(response.failure, CurlFailure::kResponse);
  EXPECT_TRUE(response.headerBlock.empty());

  request.url = huge.Url("/body");
  request.maxBodyBytes = 3 << 20;
  response = PerformExchange(request);
  EXPECT_EQ(response.failure, CurlFailure::kBody);
  EXPECT_TRUE(response.bodyLimitReached);
  EXPECT_EQ(response.body.size(), std::size_t{3} << 20);
}

TEST(CurlTransport, SharePoolsConnectionsAndCookies) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.starts_with("GET /set")) return Respond("200 OK", "Set-Cookie: k=v\r\n", "");
    return Respond("200 OK", "", r.Header("Cookie"));
  });
  CurlShare pool(true, true);
  CurlRequest request;
  request.share = &pool;
  request.cookieEngine = true;
  request.url = server.Url("/set");
  ASSERT_EQ(PerformExchange(request).failure, CurlFailure::kNone);
  request.url = server.Url("/get");
  CurlResponse response = PerformExchange(request);
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "k=v");
  EXPECT_EQ(server.Connections(), 1);

  request.share = nullptr;  // each exchange on its own, with its own cookie store
  response = PerformExchange(request);
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(CurlTransport, HeaderValues) {
  const std::string block = "HTTP/1.1 302 Found\r\nlocation: /a\r\nLOCATION:  /b\r\nX: 1\r\n\r\n";
  EXPECT_EQ(HeaderValues(block, "Location"), (std::vector<std::string>{"/a", "/b"}));
  EXPECT_TRUE(HeaderValues(block, "Loc").empty());
}

}  // namespace
}  // namespace sellmeter::curl
