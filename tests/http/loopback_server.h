#pragma once
// A scripted HTTP/1.1 server on an ephemeral loopback port that records every request exactly
// as it arrived, for tests that assert what goes on the wire and that need servers which
// misbehave (stall, close early, send garbage). Optional TLS with a given certificate and key.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sellmeter::testing {

struct RecordedRequest {
  std::string head;                      // request line and header lines, CRLF, final CRLF
  std::string requestLine;               // "POST /yeji/ HTTP/1.1"
  std::vector<std::string> headerLines;  // in wire order, without line ends
  std::string body;

  // The value of the first header with this name (ASCII case ignored), or "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

struct Reply {
  std::string bytes;               // written as they are
  std::size_t fillerBytes = 0;     // then this many 'x' bytes, written in pieces
  enum class After { kKeepAlive, kClose, kHang } after = After::kKeepAlive;
  bool hangBeforeWriting = false;  // never answer (until the server stops)
};

// "HTTP/1.1 <status>\r\n" + headers + "Content-Length: n\r\n\r\n" + body.
Reply Respond(const std::string& status, const std::string& headers, const std::string& body);

class LoopbackServer {
 public:
  using Handler = std::function<Reply(const RecordedRequest&)>;

  explicit LoopbackServer(Handler handler);
  // TLS: PEM files of the server's certificate chain and key.
  LoopbackServer(Handler handler, const std::string& certFile, const std::string& keyFile);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path = "/") const;  // http://127.0.0.1:port/path
  std::vector<RecordedRequest> Requests() const;
  int Connections() const { return connections_.load(); }

 private:
  struct Tls;
  void Start();
  void AcceptLoop();
  void Serve(int fd);

  Handler handler_;
  std::unique_ptr<Tls> tls_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::vector<int> clientFds_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// A server port that refuses connections (bound once, then closed).
int RefusedPort();

}  // namespace sellmeter::testing
