// sellmeter-query NICKNAME [--json] [--service HOST[:PORT]]: the query of the window, run
// without one, printed as a table or as one JSON object.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "query/run_query.h"
#include "text/codepage.h"
#include "tools/query/console_window.h"
#include "tools/query/query_output.h"

namespace {

using namespace sellmeter;

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "sellmeter-query: %s\n", why);
  std::fprintf(stderr, "usage: sellmeter-query NICKNAME [--json] [--service HOST[:PORT]]\n");
  return 2;
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host)
    if (c == '/' || c == '?' || c == '#' || c == '@' || static_cast<unsigned char>(c) <= ' ') return false;
  return true;
}

// A bar on stderr, redrawn in place, for terminals only.
class ProgressBar {
 public:
  ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
  }
  void Show(int done, int total) {
    if (!enabled_ || total <= 0) return;
    constexpr int kWidth = 30;
    const int filled = done * kWidth / total;
    std::fprintf(stderr, "\rpictures [%s%s] %d/%d", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), done, total);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  bool enabled_;
  bool drawn_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> nickname;
  bool json = false;
  std::string service;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--service") {
      if (i + 1 >= argc) return Usage("--service needs HOST[:PORT]");
      service = argv[++i];
      if (!ValidHost(service)) return Usage("--service needs HOST[:PORT]");
    } else if (arg == "--help" || arg == "-h") {
      Usage(nullptr);
      return 0;
    } else if (arg.size() > 2 && arg.substr(0, 2) == "--") {
      return Usage("unknown option");
    } else if (!nickname) {
      nickname = std::string(arg);
    } else {
      return Usage("one nickname only");
    }
  }
  if (!nickname) return Usage("no nickname");

  // The terminal speaks UTF-8; the service reads the nickname's GBK bytes.
  ConsoleWindow window(U16ToText(TextToU16(*nickname, kCpUtf8), kCpGbk));
  QueryOptions options;
  if (!service.empty()) options.reportUrl = "http://" + service + "/yeji/";

  std::vector<std::string> pictureUrls;
  ProgressBar bar;
  options.pictureStarting = [&](int row, const Text& url) {
    pictureUrls.resize(static_cast<std::size_t>(row));
    pictureUrls.back() = GbkToUtf8(url);
  };
  options.pictureDone = [&](int row, int rows, const CellPicture*) { bar.Show(row, rows); };
  const QueryOutcome outcome = RunQuery(window, options);
  if (outcome.requestFailed) {
    std::fprintf(stderr, "%s\n", GbkToUtf8(outcome.status).c_str());
    return 1;
  }

  // An answer that is not a report (a 404 from another server, say) is still read like any
  // page, as the window does; the note tells a user why the result is empty.
  if (outcome.status.empty() || outcome.status[0] != '2')
    std::fprintf(stderr, "sellmeter-query: the service answered \"%s\"\n", GbkToUtf8(outcome.status).c_str());

  QueryResult result;
  const auto& labels = window.Labels();
  if (labels[0] && labels[1] && labels[2] && labels[3])
    result.summary = OutputSummary{GbkToUtf8(*labels[0]), GbkToUtf8(*labels[1]), GbkToUtf8(*labels[2]),
                                   GbkToUtf8(*labels[3])};
  const auto& rows = window.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ConsoleRow& row = rows[i];
    OutputRow out;
    std::from_chars(row.cells[0].data(), row.cells[0].data() + row.cells[0].size(), out.number);
    out.pictureUrl = i < pictureUrls.size() ? pictureUrls[i] : std::string();
    out.title = GbkToUtf8(row.cells[2]);
    out.fixedPrice = GbkToUtf8(row.cells[3]);
    out.discountPrice = GbkToUtf8(row.cells[4]);
    out.monthlySales = GbkToUtf8(row.cells[5]);
    out.reviewCount = GbkToUtf8(row.cells[6]);
    out.monthlyTurnover = GbkToUtf8(row.cells[7]);
    // The picture the row shows, with the format and own size the decoder found.
    if (const CellPicture* picture = row.picture ? window.Pictures().At(*row.picture) : nullptr)
      out.picture = OutputPicture{picture->format, picture->width, picture->height};
    result.rows.push_back(std::move(out));
  }
  const std::string text = json ? FormatJson(result) : FormatTable(result);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
