// sellmeter-service: the stand-in sales-statistics service on loopback.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "service/service.h"

namespace {

using sellmeter::PictureFormat;
using sellmeter::service::ReportService;
using sellmeter::service::ServiceOptions;

bool ParseInt(std::string_view text, int lo, int hi, int* out) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) return false;
  *out = value;
  return true;
}

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "sellmeter-service: %s\n", why);
  std::fprintf(stderr,
               "usage: sellmeter-service [--port N] [--host ADDR] [--utf8] [--latency-ms MS]\n"
               "                         [--fail-pictures PERCENT] [--products N]\n"
               "                         [--picture-format jpeg|png|gif|bmp] [--picture-size WxH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  ServiceOptions options;
  std::string host = "127.0.0.1";
  int port = 18080;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--utf8") {
      options.utf8 = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage(nullptr);
      return 0;
    } else if (arg == "--port" || arg == "--latency-ms" || arg == "--fail-pictures" || arg == "--products" ||
               arg == "--host" || arg == "--picture-format" || arg == "--picture-size") {
      const char* v = value();
      if (!v) return Usage("missing value");
      bool ok = true;
      if (arg == "--port") ok = ParseInt(v, 0, 65535, &port);
      else if (arg == "--latency-ms") ok = ParseInt(v, 0, 600000, &options.latencyMs);
      else if (arg == "--fail-pictures") ok = ParseInt(v, 0, 100, &options.failPicturesPercent);
      else if (arg == "--products") ok = ParseInt(v, 0, 100000, &options.products);
      else if (arg == "--host") host = v;
      else if (arg == "--picture-format") {
        const std::string_view f = v;
        if (f == "jpeg") options.pictureFormat = PictureFormat::Jpeg;
        else if (f == "png") options.pictureFormat = PictureFormat::Png;
        else if (f == "gif") options.pictureFormat = PictureFormat::Gif;
        else if (f == "bmp") options.pictureFormat = PictureFormat::Bmp;
        else ok = false;
      } else {
        const std::string_view s = v;
        const std::size_t x = s.find('x');
        ok = x != std::string_view::npos && ParseInt(s.substr(0, x), 1, 2000, &options.pictureWidth) &&
             ParseInt(s.substr(x + 1), 1, 2000, &options.pictureHeight);
      }
      if (!ok) return Usage("bad value");
    } else {
      return Usage("unknown option");
    }
  }

  // SIGINT and SIGTERM are taken synchronously below; the server threads inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ReportService service(options);
  const int bound = service.Start(host, port);
  if (bound < 0) {
    std::fprintf(stderr, "sellmeter-service: cannot listen on %s:%d\n", host.c_str(), port);
    return 1;
  }
  std::printf("listening on http://%s:%d/\n", host.c_str(), bound);
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  service.Stop();
  return 0;
}
