#include "service/service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace sellmeter::service {

namespace {

const char* MimeType(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg: return "image/jpeg";
    case PictureFormat::Png: return "image/png";
    case PictureFormat::Gif: return "image/gif";
    case PictureFormat::Bmp: return "image/bmp";
  }
  return "application/octet-stream";
}

// Made pictures are kept, so that a benchmark measures serving rather than encoding.
class PictureCache {
 public:
  std::shared_ptr<const ByteArray> Get(const PictureSpec& shape) {
    const std::string key = PicturePath(shape);
    {
      std::lock_guard lock(mutex_);
      if (auto it = entries_.find(key); it != entries_.end()) return it->second;
    }
    auto bytes = std::make_shared<const ByteArray>(MakePicture(shape));
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaxEntries) entries_.clear();
    entries_.emplace(key, bytes);
    return bytes;
  }

 private:
  static constexpr std::size_t kMaxEntries = 2048;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const ByteArray>> entries_;
};

}  // namespace

struct ReportService::Impl {
  ServiceOptions options;
  httplib::Server server;
  std::thread thread;
  PictureCache pictures;
  std::atomic<int> pageRequests{0}, pictureRequests{0};
  std::atomic<bool> loopEnded{false};

  void Delay() const {
    if (options.latencyMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.latencyMs));
  }

  void Install() {
    // The library's default is SO_REUSEPORT, with which a second service on a busy port would
    // quietly share its requests; SO_REUSEADDR alone still allows a quick restart.
    server.set_socket_options([](socket_t sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // One connection serves a whole query (the page, then every picture) when the client
    // keeps it open; the library's default would close it after five requests.
    server.set_keep_alive_max_count(100000);
    // Headers and body go out in separate writes: without TCP_NODELAY every answer on a
    // kept-alive connection waits out the client's delayed ACK (about 40 ms).
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(1 << 20);  // a form body is a few dozen bytes
    server.Post("/yeji/", [this](const httplib::Request& req, httplib::Response& res) {
      ++pageRequests;
      Delay();
      const std::string nick = NicknameFromForm(req.body);
      std::string host = req.get_header_value("Host");
      if (host.empty()) host = "127.0.0.1";
      const SellerReport report = MakeReport(nick, options);
      res.set_content(RenderReportPage(nick, report, "http://" + host, options),
                      options.utf8 ? "text/html; charset=utf-8" : "text/html; charset=gbk");
    });
    server.Get(R"(/pictures/.*)", [this](const httplib::Request& req, httplib::Response& res) {
      ++pictureRequests;
      Delay();
      const auto shape = ParsePicturePath(req.path);
      if (!shape || PictureFails(*shape, options.failPicturesPercent)) {
        res.status = 404;
        res.set_content("Not Found", "text/plain");
        return;
      }
      const auto bytes = pictures.Get(*shape);
      res.set_content(reinterpret_cast<const char*>(bytes->data()), bytes->size(), MimeType(shape->format));
    });
  }
};

ReportService::ReportService(ServiceOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  impl_->Install();
}

ReportService::~ReportService() { Stop(); }

int ReportService::Start(const std::string& host, int port) {
  if (impl_->thread.joinable()) return -1;  // serving already
  int bound = port;
  if (port == 0) {
    bound = impl_->server.bind_to_any_port(host.c_str());
  } else if (!impl_->server.bind_to_port(host.c_str(), port)) {
    bound = -1;
  }
  if (bound < 0) return -1;
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->loopEnded = true;
  });
  return bound;  // bound already: connections wait in the backlog until the loop runs
}

void ReportService::Stop() {
  // stop() only acts on a running loop; one that has not begun yet would never end.
  if (impl_->thread.joinable())
    while (!impl_->server.is_running() && !impl_->loopEnded)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

int ReportService::PageRequests() const { return impl_->pageRequests; }
int ReportService::PictureRequests() const { return impl_->pictureRequests; }

}  // namespace sellmeter::service
