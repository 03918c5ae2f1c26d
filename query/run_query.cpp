#include "query/run_query.h"

#include <optional>
#include <string>
#include <vector>

#include "download/inet_request.h"
#include "http/web_request.h"
#include "query/report_extraction.h"
#include "regex/regex_object.h"
#include "text/pumping_delay.h"
#include "text/url_encode.h"

#ifndef SELLMETER_SERVICE_HOST
#error "SELLMETER_SERVICE_HOST names the sales-statistics service host (host[:port])"
#endif

namespace sellmeter {
namespace {

constexpr int kCellSize = 60;
constexpr int kPauseMilliseconds = 500;
constexpr int kPostMethod = 1;

// Runs never nest on a thread: the window serves its events inside the request and the pause,
// and a second click there must not start a query inside the first.
thread_local bool queryRunning = false;

class RunningFlag {
 public:
  RunningFlag() { queryRunning = true; }
  ~RunningFlag() { queryRunning = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
};

// A status of 700 or more is a failure text of the request engine, not an HTTP status.
bool IsFailureText(const Text& status) {
  if (status.size() < 3) return false;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    const char c = status[static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return false;
    code = code * 10 + (c - '0');
  }
  return code >= 700;
}

}  // namespace

Text DefaultReportUrl() { return Text("http://") + SELLMETER_SERVICE_HOST + "/yeji/"; }

QueryOutcome RunQuery(QueryWindow& window, const QueryOptions& options) {
  QueryOutcome outcome;
  if (queryRunning) return outcome;
  RunningFlag running;
  outcome.ran = true;

  // Created summary first, released summary first (each holds a COM initialisation).
  std::optional<RegexObject> productSearch;
  std::optional<RegexObject> summarySearch;
  summarySearch.emplace();
  productSearch.emplace();
  window.DeleteAllRows();
  PictureList pictures(kCellSize, kCellSize);

  Text page;
  {
    const Text body = ReportFormBody(window.Nickname());
    WebRequestOptions request;
    request.method = kPostMethod;
    request.body = body;
    request.status = &outcome.status;
    page = WebRequest(options.reportUrl.empty() ? DefaultReportUrl() : options.reportUrl,
                      request);
  }
  outcome.requestFailed = IsFailureText(outcome.status);

  if (const std::optional<SalesSummary> summary = ExtractSummary(page, *summarySearch)) {
    window.SetValueLabel(ValueLabel::SalesAmount, summary->salesAmount);
    window.SetValueLabel(ValueLabel::AverageOrderValue, summary->averageOrderValue);
    window.SetValueLabel(ValueLabel::MonthlySalesCount, summary->monthlySalesCount);
    window.SetValueLabel(ValueLabel::ItemsOnSale, summary->itemsOnSale);
    outcome.summaryShown = true;
  }

  PumpingDelay(kPauseMilliseconds);
  // A window closed during the request or the pause is only hidden until this run returns;
  // there is nothing left to show it to, so the downloads are skipped.
  if (window.Closed()) return outcome;

  const std::vector<ReportRow> rows = ExtractRows(page, *productSearch);
  const int count = static_cast<int>(rows.size());
  // Each row keeps the position its own picture entered the list at, so a picture that
  // failed leaves its row without one instead of shifting the later rows' pictures.
  std::vector<std::optional<int>> picturePositions(rows.size());
  for (int i = 0; i < count; ++i) {
    const ReportRow& row = rows[static_cast<std::size_t>(i)];
    std::optional<CellPicture> picture;
    {
      if (options.pictureStarting) options.pictureStarting(i + 1, row.pictureUrl);
      const ByteArray bytes = InetRequest(row.pictureUrl);
      picture = DecodeCellPicture(bytes, kCellSize, kCellSize);
    }
    if (options.pictureDone) options.pictureDone(i + 1, count, picture ? &*picture : nullptr);
    if (picture) {
      const int position = pictures.Add(std::move(*picture));
      if (position >= 0) picturePositions[static_cast<std::size_t>(i)] = position;
    }
  }
  outcome.pictures = pictures.Count();
  window.SetPictureList(std::move(pictures));

  for (int j = 0; j < count; ++j) {
    const ReportRow& row = rows[static_cast<std::size_t>(j)];
    const int p = window.AppendRow();
    window.SetCellText(p, 0, std::to_string(p + 1));
    window.SetCellPicture(p, 1, picturePositions[static_cast<std::size_t>(j)]);
    window.SetCellText(p, 2, row.title);
    window.SetCellText(p, 3, row.fixedPrice);
    window.SetCellText(p, 4, row.discountPrice);
    window.SetCellText(p, 5, row.monthlySales);
    window.SetCellText(p, 6, row.reviewCount);
    window.SetCellText(p, 7, row.monthlyTurnover);
  }
  outcome.rows = count;
  return outcome;
}

}  // namespace sellmeter
