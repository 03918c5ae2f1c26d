// Requests per second of WebRequest posting the report form to a loopback server that returns
// a 200 KB GBK page, against plain libcurl making the same request with a fresh handle each
// time (WebRequest opens a session per call as well).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

#include "http/web_request.h"

namespace {

const std::string kForm = "nick=%D5%C5%C8%FD&B1=%B2%E9%D1%AF%D2%B5%BC%A8";

std::string ReportPage(const std::string& charset, bool utf8) {
  const std::string title = utf8 ? "\xE5\x95\x86\xE5\x93\x81\xE6\xA0\x87\xE9\xA2\x98"  // 商品标题
                                 : "\xC9\xCC\xC6\xB7\xB1\xEA\xCC\xE2";
  std::string page = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                     charset + "\"></head><body><table>";
  for (int row = 0; page.size() < 200 * 1024; ++row)
    page += "<tr><td><img src=\"http://img.example/" + std::to_string(row) + ".jpg\"></td><td>" +
            title + std::to_string(row) + "</td><td>128.00</td><td>99.00</td><td>" +
            std::to_string(row * 7) + "</td></tr>\n";
  return page + "</table></body></html>";
}

class Server {
 public:
  Server() {
    gbk_ = ReportPage("gb2312", false);
    utf8_ = ReportPage("utf-8", true);
    server_.Post("/yeji/", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(gbk_, "text/html");
    });
    server_.Post("/utf8/", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(utf8_, "text/html");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  httplib::Server server_;
  std::string gbk_, utf8_;
  int port_ = 0;
  std::thread thread_;
};

Server& TheServer() {
  static Server server;
  return server;
}

void WebRequestPost(benchmark::State& state, const std::string& path) {
  const std::string url = TheServer().Url(path);
  sellmeter::WebRequestOptions options;
  options.method = 1;
  options.body = kForm;
  std::size_t bytes = 0;
  for (auto _ : state) {
    sellmeter::Text page = sellmeter::WebRequest(url, options);
    if (page.size() < 100 * 1024) state.SkipWithError("short page");
    bytes += page.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_WebRequest_GbkPage(benchmark::State& state) { WebRequestPost(state, "/yeji/"); }
void BM_WebRequest_Utf8Page(benchmark::State& state) { WebRequestPost(state, "/utf8/"); }

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// One request the way a plain libcurl program makes it: a fresh handle, the same lines.
std::size_t PlainCurlPost(const std::string& url) {
  CURL* easy = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const char* line :
       {"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
        "Accept: text/html, application/xhtml+xml, */*", "Accept-Encoding: gbk, GB2312",
        "Accept-Language: zh-cn", "Content-Type: application/x-www-form-urlencoded",
        "Cache-Control: no-cache", "Connection: Keep-Alive", "Expect:"})
    headers = curl_slist_append(headers, line);
  std::string body, head;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kForm.c_str());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(kForm.size()));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Collect);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &head);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  const bool ok = curl_easy_perform(easy) == CURLE_OK;
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return ok ? body.size() : 0;
}

void BM_PlainCurl_GbkPage(benchmark::State& state) {
  const std::string url = TheServer().Url("/yeji/");
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::size_t size = PlainCurlPost(url);
    if (size < 100 * 1024) state.SkipWithError("transfer failed");
    bytes += size;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// Both in turn, one request each per iteration, so that the load of a shared machine and the
// allocator's state weigh on both alike; the counters give each one's rate and the ratio.
void BM_Interleaved_GbkPage(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const std::string url = TheServer().Url("/yeji/");
  sellmeter::WebRequestOptions options;
  options.method = 1;
  options.body = kForm;
  Clock::duration curlTime{}, webRequestTime{};
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    if (PlainCurlPost(url) < 100 * 1024) state.SkipWithError("transfer failed");
    const Clock::time_point middle = Clock::now();
    if (sellmeter::WebRequest(url, options).size() < 100 * 1024) state.SkipWithError("short page");
    webRequestTime += Clock::now() - middle;
    curlTime += middle - start;
  }
  const double n = static_cast<double>(state.iterations());
  const double curlRate = n / std::chrono::duration<double>(curlTime).count();
  const double webRequestRate = n / std::chrono::duration<double>(webRequestTime).count();
  state.counters["curl_per_s"] = curlRate;
  state.counters["webrequest_per_s"] = webRequestRate;
  state.counters["ratio"] = webRequestRate / curlRate;
}

BENCHMARK(BM_Interleaved_GbkPage)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_PlainCurl_GbkPage)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_WebRequest_GbkPage)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_WebRequest_Utf8Page)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
