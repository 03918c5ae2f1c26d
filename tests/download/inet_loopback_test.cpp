// InetRequest through the Linux WinInet layer against real servers on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "download/inet_request.h"
#include "download/linux/linux_wininet.h"
#include "download/wininet_api.h"
#include "loopback_server.h"

namespace sellmeter {
namespace {

using testing::LoopbackServer;
using testing::RecordedRequest;
using testing::Reply;
using testing::Respond;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string Str(const ByteArray& bytes) { return std::string(bytes.begin(), bytes.end()); }

Reply Picture(const std::string& body) {
  return Respond("200 OK", "Content-Type: image/jpeg\r\n", body);
}

class InetLoopback : public ::testing::Test {
 protected:
  // The test servers write to clients that may have gone; that must not end the process.
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
  void SetUp() override { ResetInetSessionState(); }
  void TearDown() override { SetInetLimits(InetLimits{}); }
};

TEST_F(InetLoopback, QueryCommandCallPutsTheExactRequestOnTheWire) {
  const std::string picture("\xFF\xD8\xFF\xE0\0JFIF\0tail", 14);
  LoopbackServer server([&](const RecordedRequest&) { return Picture(picture); });
  const std::string url = server.Url("/Pic/A.JPG?x=1");
  EXPECT_EQ(Str(InetRequest(url)), picture);

  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "GET /Pic/A.JPG?x=1 HTTP/1.1");
  const std::vector<std::string> expected = {
      "Host: 127.0.0.1:" + std::to_string(server.port()),
      "Accept: */*",
      "Referer: " + url,
      "Accept-Language: zh-cn",
      std::string("User-Agent: ") + kAgent,
      "Connection: Keep-Alive",
  };
  EXPECT_EQ(requests[0].headerLines, expected);
  EXPECT_EQ(requests[0].body, "");
}

TEST_F(InetLoopback, PostSendsBodyAndCallerLinesAsGiven) {
  LoopbackServer server([](const RecordedRequest&) { return Picture("ok"); });
  Text headers = "User-Agent: PicBot/2\r\nX-Trace: 7";
  InetRequestOptions options;
  options.method = 1;
  options.body = "a=1&b=%B2";
  options.extraHeaders = &headers;
  EXPECT_EQ(Str(InetRequest(server.Url("/up"), options)), "ok");
  const RecordedRequest request = server.Requests().at(0);
  EXPECT_EQ(request.requestLine, "POST /up HTTP/1.1");
  EXPECT_EQ(request.body, "a=1&b=%B2");
  EXPECT_EQ(request.Header("Content-Length"), "9");
  EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.Header("User-Agent"), "PicBot/2");
  EXPECT_EQ(request.Header("X-Trace"), "7");
  int agents = 0;
  for (const std::string& line : request.headerLines) agents += line.rfind("User-Agent:", 0) == 0;
  EXPECT_EQ(agents, 1) << "the caller's User-Agent line replaces the agent";
}

TEST_F(InetLoopback, ErrorPagesAndUnfollowedRedirectsComeBackAsBytes) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.find("/moved") != std::string::npos)
      return Respond("302 Found", "Location: /elsewhere\r\n", "moved-body");
    return Respond("404 Not Found", "", "<html>no picture</html>");
  });
  EXPECT_EQ(Str(InetRequest(server.Url("/missing.jpg"))), "<html>no picture</html>");

  InetRequestOptions options;
  options.noRedirect = true;
  Text responseHeaders;
  options.responseHeaders = &responseHeaders;
  EXPECT_EQ(Str(InetRequest(server.Url("/moved"), options)), "moved-body");
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\n", 0), 0u);
  EXPECT_EQ(server.Requests().size(), 2u);

  // Followed by default: the final response is the one read.
  EXPECT_EQ(Str(InetRequest(server.Url("/moved"))), "<html>no picture</html>");
  EXPECT_EQ(server.Requests().back().requestLine, "GET /elsewhere HTTP/1.1");
}

TEST_F(InetLoopback, ResponseHeadersAndCookiesOut) {
  LoopbackServer server([](const RecordedRequest&) {
    return Respond("200 OK", "set-cookie: sid=5; path=/\r\nX-Other: 1\r\n", "body");
  });
  Text responseHeaders, cookiesOut;
  InetRequestOptions options;
  options.responseHeaders = &responseHeaders;
  options.cookiesOut = &cookiesOut;
  InetRequest(server.Url("/p"), options);
  EXPECT_EQ(cookiesOut, "sid=5");
  EXPECT_EQ(
      responseHeaders,
      "HTTP/1.1 200 OK\r\nSet-Cookie: sid=5; path=/\r\nX-Other: 1\r\nContent-Length: 4\r\n\r\n");
}

TEST_F(InetLoopback, ProcessWideCookieStoreUnlessCookiesAreGiven) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.find("/login") != std::string::npos)
      return Respond("200 OK", "Set-Cookie: sid=5; path=/\r\n", "in");
    return Respond("200 OK", "", "pic");
  });
  InetRequest(server.Url("/login"));
  InetRequest(server.Url("/a.jpg"));
  EXPECT_EQ(server.Requests().at(1).Header("Cookie"), "sid=5");

  // Given cookies switch the store off: only the caller's text is sent.
  Text cookies = "own=1";
  InetRequestOptions options;
  options.cookies = &cookies;
  InetRequest(server.Url("/b.jpg"), options);
  EXPECT_EQ(server.Requests().at(2).Header("Cookie"), "own=1");

  Text none;
  options.cookies = &none;
  InetRequest(server.Url("/c.jpg"), options);
  EXPECT_FALSE(server.Requests().at(3).HasHeader("Cookie"));

  // ...and what such a request is sent does not enter the store.
  ResetInetSessionState();
  InetRequest(server.Url("/login2"), options);
  InetRequest(server.Url("/d.jpg"));
  EXPECT_FALSE(server.Requests().at(5).HasHeader("Cookie"));
}

TEST_F(InetLoopback, CookiesSetDuringRedirectsReachTheNextHop) {
  LoopbackServer server([](const RecordedRequest& r) {
    if (r.requestLine.find("/start") != std::string::npos)
      return Respond("302 Found", "Set-Cookie: hop=1\r\nLocation: /end\r\n", "");
    return Respond("200 OK", "", "end");
  });
  EXPECT_EQ(Str(InetRequest(server.Url("/start"))), "end");
  EXPECT_EQ(server.Requests().at(1).Header("Cookie"), "hop=1");
}

TEST_F(InetLoopback, HeadersPastTheBufferLeaveBlanksButTheBodyArrives) {
  const std::string big(6000, 'h');
  LoopbackServer server([&](const RecordedRequest&) {
    return Respond("200 OK", "Set-Cookie: a=1\r\nX-Big: " + big + "\r\n", "pic");
  });
  Text responseHeaders, cookiesOut = "old";
  InetRequestOptions options;
  options.responseHeaders = &responseHeaders;
  options.cookiesOut = &cookiesOut;
  EXPECT_EQ(Str(InetRequest(server.Url("/p"), options)), "pic");
  EXPECT_EQ(responseHeaders, std::string(5000, ' '));
  EXPECT_EQ(cookiesOut, "");
}

TEST_F(InetLoopback, KeepAliveConnectionsArePooledAcrossCalls) {
  LoopbackServer server([](const RecordedRequest&) { return Picture(std::string(20000, 'j')); });
  for (int i = 0; i < 5; ++i) EXPECT_EQ(InetRequest(server.Url("/p.jpg")).size(), 20000u);
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(InetLoopback, ProxyListsRouteHttpThroughTheProxy) {
  LoopbackServer proxy([](const RecordedRequest&) { return Picture("via-proxy"); });
  InetRequestOptions options;
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  EXPECT_EQ(Str(InetRequest("http://Pictures.Example/a.jpg", options)), "via-proxy");
  const RecordedRequest request = proxy.Requests().at(0);
  EXPECT_EQ(request.requestLine, "GET http://pictures.example/a.jpg HTTP/1.1");
  EXPECT_EQ(request.Header("Host"), "pictures.example");
}

TEST_F(InetLoopback, HttpsGoesToABareProxyAsConnect) {
  LoopbackServer proxy([](const RecordedRequest&) { return Respond("403 Forbidden", "", "no"); });
  InetRequestOptions options;
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  EXPECT_TRUE(InetRequest("https://Pictures.Example/a.jpg", options).empty());
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].requestLine, "CONNECT pictures.example:443 HTTP/1.1");
}

TEST_F(InetLoopback, LayerKeepsWinInetsContractForHandlesAndTheHeaderQuery) {
  LoopbackServer server(
      [](const RecordedRequest&) { return Respond("200 OK", "X-A: 1\r\n", "abc"); });
  WinInetApi& inet = PlatformWinInetApi();
  InetHandle root = inet.InternetOpenA("agent", kInternetOpenTypeDirect, "", "", 0);
  InetHandle connection =
      inet.InternetConnectA(root, "127.0.0.1", static_cast<std::uint16_t>(server.port()), "", "",
                            kInternetServiceHttp, 0, 0);
  InetHandle request = inet.HttpOpenRequestA(connection, "GET", "/q", "HTTP/1.1", "", nullptr,
                                             kInternetFlagReload, 0);
  ASSERT_NE(request, nullptr);

  // Wrong kinds and unknown handles fail with WinInet's numbers.
  char buffer[256];
  std::uint32_t length = sizeof buffer, read = 0;
  EXPECT_FALSE(inet.HttpQueryInfoA(connection, kHttpQueryRawHeadersCrlf, buffer, &length, nullptr));
  EXPECT_EQ(InetLastError(), kErrorInternetIncorrectHandleType);
  int notAHandle = 0;
  EXPECT_FALSE(inet.InternetReadFile(&notAHandle, buffer, sizeof buffer, &read));
  EXPECT_EQ(InetLastError(), 6u);
  // Nothing to read or query before the send.
  EXPECT_FALSE(inet.InternetReadFile(request, buffer, sizeof buffer, &read));
  EXPECT_FALSE(inet.HttpQueryInfoA(request, kHttpQueryRawHeadersCrlf, buffer, &length, nullptr));

  ASSERT_TRUE(inet.HttpSendRequestA(request, "", 0, "", 0));
  const std::string block = "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 3\r\n\r\n";
  length = static_cast<std::uint32_t>(block.size());  // no room for the terminator
  EXPECT_FALSE(inet.HttpQueryInfoA(request, kHttpQueryRawHeadersCrlf, buffer, &length, nullptr));
  EXPECT_EQ(InetLastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(length, block.size() + 1);
  EXPECT_TRUE(inet.HttpQueryInfoA(request, kHttpQueryRawHeadersCrlf, buffer, &length, nullptr));
  EXPECT_EQ(length, block.size());
  EXPECT_EQ(std::string(buffer), block);

  EXPECT_TRUE(inet.InternetReadFile(request, buffer, 2, &read));
  EXPECT_EQ(std::string(buffer, read), "ab");
  EXPECT_TRUE(inet.InternetReadFile(request, buffer, 2, &read));
  EXPECT_EQ(std::string(buffer, read), "c");
  EXPECT_TRUE(inet.InternetReadFile(request, buffer, 2, &read));
  EXPECT_EQ(read, 0u);

  // Parents closed first leave the child usable; a second close fails.
  EXPECT_TRUE(inet.InternetCloseHandle(root));
  EXPECT_TRUE(inet.InternetCloseHandle(connection));
  length = sizeof buffer;
  EXPECT_TRUE(inet.HttpQueryInfoA(request, kHttpQueryRawHeadersCrlf, buffer, &length, nullptr));
  EXPECT_TRUE(inet.InternetCloseHandle(request));
  EXPECT_FALSE(inet.InternetCloseHandle(request));
  EXPECT_EQ(server.Requests().at(0).Header("User-Agent"), "agent");
}

TEST_F(InetLoopback, ServerThatClosesEarlyGivesTheBytesSent) {
  LoopbackServer server([](const RecordedRequest&) {
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + std::string(3000, 'c');
    reply.after = Reply::After::kClose;
    return reply;
  });
  EXPECT_EQ(Str(InetRequest(server.Url("/p"))), std::string(3000, 'c'));

  LoopbackServer garbage([](const RecordedRequest&) {
    Reply reply;
    reply.bytes = "this is not HTTP\r\n\r\n";
    reply.after = Reply::After::kClose;
    return reply;
  });
  EXPECT_TRUE(InetRequest(garbage.Url("/p")).empty());
}

TEST_F(InetLoopback, ServerThatNeverAnswersEndsAfterTheIdleBound) {
  InetLimits limits;
  limits.idleTimeoutMs = 1000;
  SetInetLimits(limits);
  LoopbackServer server([](const RecordedRequest&) {
    Reply reply;
    reply.hangBeforeWriting = true;
    return reply;
  });
  Text responseHeaders;
  InetRequestOptions options;
  options.responseHeaders = &responseHeaders;
  EXPECT_TRUE(InetRequest(server.Url("/p"), options).empty());
  EXPECT_EQ(responseHeaders, std::string(5000, ' '));

  // The same bound ends a body that stops half-way.
  LoopbackServer stall([](const RecordedRequest&) {
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(100, 's');
    reply.after = Reply::After::kHang;
    return reply;
  });
  EXPECT_EQ(Str(InetRequest(stall.Url("/p"))), std::string(100, 's'));
}

// A server that keeps the idle bound from tripping by sending one byte every 200 ms.
class TricklingServer {
 public:
  TricklingServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("trickling server");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      char request[4096];
      (void)!::recv(fd, request, sizeof request, 0);
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
      bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0;
      for (int i = 0; open && i < 1000 && !stop_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        open = ::send(fd, "t", 1, MSG_NOSIGNAL) == 1;
      }
      ::close(fd);
    });
  }
  ~TricklingServer() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/p"; }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(InetLoopback, TricklingServerEndsAtTheTotalBound) {
  InetLimits limits;
  limits.idleTimeoutMs = 1000;
  limits.totalTimeoutMs = 2000;
  SetInetLimits(limits);
  TricklingServer server;
  const ByteArray body = InetRequest(server.Url());
  EXPECT_GT(body.size(), 0u);
  EXPECT_LT(body.size(), 1000u);
  EXPECT_EQ(Str(body), std::string(body.size(), 't'));
}

TEST_F(InetLoopback, BodiesPastTheLimitAreCut) {
  InetLimits limits;
  limits.maxBodyBytes = 1 << 20;
  SetInetLimits(limits);
  LoopbackServer server([](const RecordedRequest&) {
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 300000000\r\n\r\n";
    reply.fillerBytes = 300000000;
    return reply;
  });
  const ByteArray body = InetRequest(server.Url("/huge"));
  EXPECT_EQ(body.size(), std::size_t{1} << 20);
}

TEST_F(InetLoopback, UrlsThatReachNoServerGiveNoBytes) {
  LoopbackServer server([](const RecordedRequest&) { return Picture("pic"); });
  const std::string port = std::to_string(server.port());
  const std::string cases[] = {
      "",
      "http:///p.jpg",
      "http://127.0.0.1 x:" + port + "/p.jpg",        // a blank in the host
      std::string("http://127.0.0.1\r\nX: 1/p.jpg"),  // line ends in the host
      "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/p.jpg",
  };
  for (const std::string& url : cases) EXPECT_TRUE(InetRequest(url).empty()) << url;
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(InetLoopback, PathsAreSentSafely) {
  LoopbackServer server([](const RecordedRequest&) { return Picture("pic"); });
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(Str(InetRequest(base + "/a b\r\nX-Injected: 1/\xCD\xBC.jpg")), "pic");
  EXPECT_EQ(Str(InetRequest(base + "/" + std::string(100000, 'L'))), "pic");
  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].requestLine, "GET /a%20b%0D%0AX-Injected:%201/%CD%BC.jpg HTTP/1.1");
  EXPECT_FALSE(requests[0].HasHeader("X-Injected"));
  EXPECT_EQ(requests[0].Header("Referer"), base + "/a b%0D%0AX-Injected: 1/\xCD\xBC.jpg");
  EXPECT_EQ(requests[1].requestLine.size(), std::string("GET / HTTP/1.1").size() + 100000);
}

TEST_F(InetLoopback, HeaderLinesThatAreNotHeadersStayOffTheWire) {
  LoopbackServer server([](const RecordedRequest&) { return Picture("pic"); });
  Text headers = "X-A: 1\r\n\r\nGET /smuggled HTTP/1.1\nX-B: 2\rnot a header\r\nX-C:\x01 bad";
  InetRequestOptions options;
  options.extraHeaders = &headers;
  EXPECT_EQ(Str(InetRequest(server.Url("/p"), options)), "pic");
  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("X-A"), "1");
  EXPECT_EQ(requests[0].Header("X-B"), "2");
  EXPECT_FALSE(requests[0].HasHeader("X-C"));
  for (const std::string& line : requests[0].headerLines)
    EXPECT_EQ(line.find("smuggled"), std::string::npos) << line;
}

// HTTPS with a CA and a server certificate for 127.0.0.1 made for the test.
class InetTls : public InetLoopback {
 protected:
  static void SetUpTestSuite() {
    InetLoopback::SetUpTestSuite();
    dir_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                     ("inet-tls-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*dir_);
    const std::string d = dir_->string();
    std::ofstream(d + "/ext.cnf") << "subjectAltName=IP:127.0.0.1\n";
    const std::string script =
        "cd '" + d +
        "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
        "-subj '/CN=Sellmeter Test CA' && "
        "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr "
        "-subj '/CN=127.0.0.1' && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
        "-out server.pem -days 2 -extfile ext.cnf";
    made_ = std::system(("{ " + script + "; } >/dev/null 2>&1").c_str()) == 0;
    if (made_) ::setenv("SSL_CERT_FILE", (d + "/ca.pem").c_str(), 1);
  }
  static void TearDownTestSuite() {
    ::unsetenv("SSL_CERT_FILE");
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    InetLoopback::SetUp();
    ASSERT_TRUE(made_) << "openssl could not make the test certificates";
  }
  static std::string Cert() { return (*dir_ / "server.pem").string(); }
  static std::string Key() { return (*dir_ / "server.key").string(); }

  static inline std::filesystem::path* dir_ = nullptr;
  static inline bool made_ = false;
};

TEST_F(InetTls, RedirectFromHttpToHttpsIsFollowed) {
  LoopbackServer secure([](const RecordedRequest&) { return Picture("secure-pic"); }, Cert(),
                        Key());
  const std::string target = "https://127.0.0.1:" + std::to_string(secure.port()) + "/s.png";
  LoopbackServer plain([&](const RecordedRequest&) {
    return Respond("301 Moved Permanently", "Location: " + target + "\r\n", "");
  });
  EXPECT_EQ(Str(InetRequest(plain.Url("/p.png"))), "secure-pic");
  EXPECT_EQ(secure.Requests().at(0).requestLine, "GET /s.png HTTP/1.1");
}

TEST_F(InetTls, HttpsUrlInCapitalsAndHttpsToHttpStops) {
  LoopbackServer plain([](const RecordedRequest&) { return Picture("plain-pic"); });
  LoopbackServer secure(
      [&](const RecordedRequest& r) {
        if (r.requestLine.find("/down") != std::string::npos)
          return Respond("302 Found", "Location: " + plain.Url("/p") + "\r\n", "not-followed");
        return Picture("secure-pic");
      },
      Cert(), Key());
  const std::string base = "HTTPS://127.0.0.1:" + std::to_string(secure.port());
  EXPECT_EQ(Str(InetRequest(base + "/s.png")), "secure-pic");
  EXPECT_EQ(Str(InetRequest(base + "/down")), "not-followed");
  EXPECT_TRUE(plain.Requests().empty());
}

TEST_F(InetTls, UntrustedCertificateGivesNoBytes) {
  ::setenv("SSL_CERT_FILE", "/dev/null", 1);
  LoopbackServer secure([](const RecordedRequest&) { return Picture("secure-pic"); }, Cert(),
                        Key());
  EXPECT_TRUE(InetRequest(secure.Url("/s.png")).empty());
  ::setenv("SSL_CERT_FILE", (*dir_ / "ca.pem").c_str(), 1);
}

}  // namespace
}  // namespace sellmeter
