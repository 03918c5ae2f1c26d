// query_bench [RUNS]: a query of a seller with 100 products whose pictures are JPEGs of about
// 20 KB, from the click on the query button to the filled list, against the floor measured in
// the same run: one POST and the 100 GETs of the same pictures in sequence with plain libcurl
// on one reused connection, plus the query's fixed 500 ms pause. Then the peak memory of the
// window process.
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/linux/qt_main_window.h"
#include "app/linux/qt_timer_api.h"
#include "app/main_layout.h"
#include "query/run_query.h"
#include "service/report_page.h"
#include "text/url_encode.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The square JPEG side whose made pictures come closest to 20 KB.
int PictureSideFor20K() {
  int best = 100;
  long bestMiss = 1L << 30;
  for (int side = 100; side <= 800; side += 20) {
    long total = 0;
    for (int i = 0; i < 4; ++i) {
      sellmeter::service::PictureSpec shape{12345u + static_cast<unsigned>(i), i, side, side,
                                           sellmeter::PictureFormat::Jpeg};
      total += static_cast<long>(sellmeter::service::MakePicture(shape).size());
    }
    const long miss = std::labs(total / 4 - 20 * 1024);
    if (miss < bestMiss) {
      bestMiss = miss;
      best = side;
    }
  }
  return best;
}

struct Service {
  pid_t pid = -1;
  int port = 0;
};

Service StartService(int side) {
  int out[2];
  if (pipe(out) != 0) return {};
  const std::string size = std::to_string(side) + "x" + std::to_string(side);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(SELLMETER_SERVICE_EXE, SELLMETER_SERVICE_EXE, "--port", "0", "--products", "100",
          "--picture-format", "jpeg", "--picture-size", size.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  Service service{pid, 0};
  const auto colon = line.rfind(':');
  if (colon != std::string::npos) service.port = std::atoi(line.c_str() + colon + 1);
  return service;
}

size_t Collect(char* data, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
}

// One POST and the page's picture GETs over one libcurl handle, plus the fixed pause.
double Floor(const std::string& base, const std::string& body, long* pictureBytes) {
  CURL* curl = curl_easy_init();
  std::string page;
  const auto start = Clock::now();
  curl_easy_setopt(curl, CURLOPT_URL, (base + "/yeji/").c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page);
  curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  std::vector<std::string> urls;
  for (size_t at = page.find("<img src=\""); at != std::string::npos;
       at = page.find("<img src=\"", at + 1)) {
    const size_t from = at + 10;
    urls.push_back(page.substr(from, page.find('"', from) - from));
  }
  *pictureBytes = 0;
  for (const std::string& url : urls) {
    std::string picture;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &picture);
    curl_easy_perform(curl);
    *pictureBytes += static_cast<long>(picture.size());
  }
  const double elapsed = Seconds(Clock::now() - start) + 0.5;
  curl_easy_cleanup(curl);
  if (urls.size() != 100) std::fprintf(stderr, "warning: %zu pictures on the page\n", urls.size());
  return elapsed;
}

long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int side = PictureSideFor20K();
  const Service service = StartService(side);
  if (service.port <= 0) {
    std::fprintf(stderr, "the stand-in service did not start\n");
    return 1;
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(service.port);

  int qtArgc = 1;
  char name[] = "query_bench";
  char* qtArgv[] = {name, nullptr};
  QApplication application(qtArgc, qtArgv);
  sellmeter::QtMessagePump pump;
  sellmeter::QtTimerApi timers;
  sellmeter::ScopedMessagePump usePump(pump);
  sellmeter::ScopedTimerApi useTimers(timers);

  sellmeter::QueryOutcome last;
  sellmeter::MainWindowEvents events;
  events.queryClicked = [&](sellmeter::QueryWindow& window) {
    sellmeter::QueryOptions options;
    options.reportUrl = base + "/yeji/";
    last = sellmeter::RunQuery(window, options);
  };
  sellmeter::QtMainWindow window(events);
  window.show();
  QApplication::processEvents();
  auto* button = static_cast<QPushButton*>(window.Control(sellmeter::kQueryButton));

  const std::string body = sellmeter::ReportFormBody("shopnick01");
  std::vector<double> queries, floors;
  long pictureBytes = 0;
  for (int run = 0; run < runs; ++run) {
    floors.push_back(Floor(base, body, &pictureBytes));
    const auto start = Clock::now();
    button->click();
    queries.push_back(Seconds(Clock::now() - start));
  }
  kill(service.pid, SIGTERM);
  waitpid(service.pid, nullptr, 0);

  std::sort(queries.begin(), queries.end());
  std::sort(floors.begin(), floors.end());
  const double query = queries[queries.size() / 2];
  const double floor = floors[floors.size() / 2];
  std::printf("pictures: %d rows, %d in the list, JPEG %dx%d, %.1f KB on average\n", last.rows,
              last.pictures, side, side, pictureBytes / 100.0 / 1024.0);
  std::printf("query (click to filled list), median of %d: %.3f s\n", runs, query);
  std::printf("floor (libcurl POST + 100 GETs on one connection + 0.5 s), median: %.3f s\n",
              floor);
  std::printf("ratio: %.3f (target <= 1.3)\n", query / floor);
  std::printf("peak memory of the window process: %.1f MB (target < 150 MB)\n",
              PeakKilobytes() / 1024.0);
  curl_global_cleanup();
  return last.rows == 100 ? 0 : 1;
}
