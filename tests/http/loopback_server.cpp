#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace sellmeter::testing {
namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const std::string& line : headerLines) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || Lower(line.substr(0, colon)) != wanted) continue;
    std::size_t start = line.find_first_not_of(' ', colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const std::string& line : headerLines) {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(line.substr(0, colon)) == wanted) return true;
  }
  return false;
}

Reply Respond(const std::string& status, const std::string& headers, const std::string& body) {
  Reply reply;
  reply.bytes = "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body;
  return reply;
}

struct LoopbackServer::Tls {
  SSL_CTX* ctx = nullptr;
  ~Tls() {
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
};

namespace {

// One connection's byte stream, plain or TLS.
class Stream {
 public:
  Stream(int fd, SSL_CTX* ctx) : fd_(fd) {
    if (ctx == nullptr) return;
    ssl_ = SSL_new(ctx);
    SSL_set_fd(ssl_, fd);
    if (SSL_accept(ssl_) != 1) ok_ = false;
  }
  ~Stream() {
    if (ssl_ != nullptr) {
      if (ok_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
  }
  bool ok() const { return ok_; }
  long Read(char* buffer, std::size_t size) {
    if (ssl_ != nullptr) return SSL_read(ssl_, buffer, static_cast<int>(size));
    return ::recv(fd_, buffer, size, 0);
  }
  bool Write(const char* data, std::size_t size) {
    while (size > 0) {
      long n = ssl_ != nullptr ? SSL_write(ssl_, data, static_cast<int>(size))
                               : ::send(fd_, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
  bool ok_ = true;
};

}  // namespace

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) { Start(); }

LoopbackServer::LoopbackServer(Handler handler, const std::string& certFile,
                               const std::string& keyFile)
    : handler_(std::move(handler)), tls_(std::make_unique<Tls>()) {
  tls_->ctx = SSL_CTX_new(TLS_server_method());
  if (tls_->ctx == nullptr ||
      SSL_CTX_use_certificate_chain_file(tls_->ctx, certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(tls_->ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot load the test certificate");
  Start();
}

void LoopbackServer::Start() {
  // TLS writes to a client that hung up must fail, not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
  if (::pipe(wakeFds_) != 0) throw std::runtime_error("pipe");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0)
    throw std::runtime_error("bind/listen");
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  char wake = 1;
  (void)!::write(wakeFds_[1], &wake, 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clientFds_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& worker : workers_) worker.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (stopping_ || (fds[1].revents & POLLIN)) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    clientFds_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void LoopbackServer::Serve(int fd) {
  Stream stream(fd, tls_ ? tls_->ctx : nullptr);
  std::string pending;
  char buffer[65536];
  bool open = stream.ok();
  while (open && !stopping_) {
    // Head, then a body of Content-Length bytes.
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      long n = stream.Read(buffer, sizeof buffer);
      if (n <= 0) {
        open = false;
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    if (!open) break;
    RecordedRequest request;
    request.head = pending.substr(0, headEnd + 4);
    std::size_t at = 0;
    bool first = true;
    while (at < headEnd) {
      std::size_t end = pending.find("\r\n", at);
      std::string line = pending.substr(at, end - at);
      at = end + 2;
      if (first) request.requestLine = line;
      else request.headerLines.push_back(line);
      first = false;
    }
    std::size_t bodyLength = 0;
    if (request.HasHeader("Content-Length"))
      bodyLength = std::stoul(request.Header("Content-Length"));
    pending.erase(0, headEnd + 4);
    while (pending.size() < bodyLength) {
      long n = stream.Read(buffer, sizeof buffer);
      if (n <= 0) {
        open = false;
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    request.body = pending.substr(0, bodyLength);
    pending.erase(0, bodyLength);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Reply reply = handler_(request);
    if (reply.hangBeforeWriting || !open) {
      while (!stopping_ && stream.Read(buffer, sizeof buffer) > 0) {
      }
      break;
    }
    if (!stream.Write(reply.bytes.data(), reply.bytes.size())) break;
    std::string filler(65536, 'x');
    for (std::size_t left = reply.fillerBytes; left > 0 && !stopping_;) {
      std::size_t n = left < filler.size() ? left : filler.size();
      if (!stream.Write(filler.data(), n)) {
        open = false;
        break;
      }
      left -= n;
    }
    if (reply.after == Reply::After::kClose) break;
    if (reply.after == Reply::After::kHang) {
      while (!stopping_ && stream.Read(buffer, sizeof buffer) > 0) {
      }
      break;
    }
  }
  ::shutdown(fd, SHUT_RDWR);
  std::lock_guard<std::mutex> lock(mutex_);
  for (int& client : clientFds_)
    if (client == fd) client = -1;
  ::close(fd);
}

int RefusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace sellmeter::testing
