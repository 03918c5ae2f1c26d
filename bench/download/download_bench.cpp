// 200 sequential downloads of a 20 KB picture from one loopback server, three ways, in the
// same run: plain libcurl reusing one handle and so one connection (the floor), the shared
// transport alone on a pool, InetRequest through the WinInet layer with its process-wide pool,
// and InetRequest with the pool emptied before every download (a new connection each time).
//
// The machine is shared, so the variants take turns: every round runs each once, in an order
// that rotates; the figures are medians over the rounds and the best round of each.
//
//   download_bench [rounds=15] [downloads=200] [only-variant-index]
#include <curl/curl.h>
#include <time.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/inet_request.h"
#include "download/linux/linux_wininet.h"
#include "http/linux/curl_transport.h"
#include "loopback_server.h"

namespace {

constexpr std::size_t kPictureBytes = 20 * 1024;

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::vector<unsigned char>*>(user);
  body->insert(body->end(), data, data + size * count);
  return size * count;
}

struct Variant {
  const char* name;
  std::function<bool()> download;  // one download; false when it came back short
  std::vector<double> wall, cpu;   // seconds per round
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
  const int downloads = argc > 2 ? std::atoi(argv[2]) : 200;
  const int only = argc > 3 ? std::atoi(argv[3]) : -1;  // run one variant alone (profiling)
  std::signal(SIGPIPE, SIG_IGN);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  sellmeter::testing::LoopbackServer server(
      [body = std::string(kPictureBytes, 'j')](const sellmeter::testing::RecordedRequest&) {
        return sellmeter::testing::Respond("200 OK", "Content-Type: image/jpeg\r\n", body);
      });
  const std::string url = server.Url("/Pic/A.JPG");

  std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), curl_easy_cleanup);
  std::vector<unsigned char> curlBody;
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &curlBody);

  // The exchange the layer hands to the transport for the query command's call, made directly:
  // what the transport and libcurl cost without the WinInet calls around them.
  sellmeter::curl::CurlShare share(true, true);
  sellmeter::curl::CurlRequest exchange;
  exchange.url = url;
  exchange.headers = {"Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
                      "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                      "Connection: Keep-Alive"};
  exchange.redirects = sellmeter::curl::RedirectPolicy::kNotHttpsToHttp;
  exchange.cookieEngine = true;
  exchange.share = &share;

  std::vector<Variant> variants = {
      {"plain libcurl, one connection",
       [&] {
         curlBody.clear();
         return curl_easy_perform(easy.get()) == CURLE_OK && curlBody.size() == kPictureBytes;
       },
       {},
       {}},
      {"transport alone, pooled connections",
       [&] { return sellmeter::curl::PerformExchange(exchange).body.size() == kPictureBytes; },
       {},
       {}},
      {"InetRequest, pooled connections",
       [&] { return sellmeter::InetRequest(url).size() == kPictureBytes; },
       {},
       {}},
      {"InetRequest, new connection each time",
       [&] {
         sellmeter::ResetInetSessionState();
         return sellmeter::InetRequest(url).size() == kPictureBytes;
       },
       {},
       {}},
  };

  for (Variant& v : variants) v.download();  // warm up: connections and caches
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < variants.size(); ++k) {
      Variant& v = variants[(k + round) % variants.size()];
      if (only >= 0 && &v != &variants[static_cast<std::size_t>(only)]) continue;
      const double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_THREAD_CPUTIME_ID);
      for (int i = 0; i < downloads; ++i) {
        if (!v.download()) {
          std::fprintf(stderr, "%s: short download\n", v.name);
          return 1;
        }
      }
      v.wall.push_back(Now(CLOCK_MONOTONIC) - wall);
      v.cpu.push_back(Now(CLOCK_THREAD_CPUTIME_ID) - cpu);
    }
  }

  // Medians, and the best round of each (the least disturbed by other work on the machine).
  if (only >= 0) return 0;
  const double floorMedian = Median(variants[0].wall);
  const double floorBest = *std::min_element(variants[0].wall.begin(), variants[0].wall.end());
  std::printf("%d rounds of %d downloads of %zu bytes\n", rounds, downloads, kPictureBytes);
  std::printf("%-40s %12s %12s %12s %10s %10s\n", "variant", "median ms", "downloads/s",
              "client cpu ms", "vs floor", "best vs");
  for (const Variant& v : variants) {
    const double median = Median(v.wall);
    const double best = *std::min_element(v.wall.begin(), v.wall.end());
    std::printf("%-40s %12.1f %12.0f %12.1f %9.0f%% %9.0f%%\n", v.name, median * 1e3,
                downloads / median, Median(v.cpu) * 1e3, 100.0 * floorMedian / median,
                100.0 * floorBest / best);
  }
  return 0;
}
