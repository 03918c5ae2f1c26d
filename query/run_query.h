#pragma once
// The query command: posts the nickname of the window to the sales-statistics service and
// fills the window from the report page, on the calling (GUI) thread.
#include <functional>

#include "query/query_window.h"
#include "text/text_types.h"

namespace sellmeter {

// The report address built in: "http://" + the service host of the build + "/yeji/".
Text DefaultReportUrl();

struct QueryOptions {
  // The address the form is posted to; empty means DefaultReportUrl().
  Text reportUrl;
  // Called after each picture download, before the next one starts: row is the 1-based row
  // number, rows the number of rows, picture the decoded picture or nullptr when the bytes
  // did not decode (or the download failed).
  std::function<void(int row, int rows, const CellPicture* picture)> pictureDone;
  // Called before each picture download with the 1-based row number and the row's pictureUrl.
  std::function<void(int row, const Text& pictureUrl)> pictureStarting;
};

struct QueryOutcome {
  // False when a query was already running on this thread: the call did nothing.
  bool ran = false;
  // The request's status text: the HTTP status ("200 OK"), or the failure text of the request
  // engine ("7xx ...!") when the request failed.
  Text status;
  // True when status holds a failure text (its leading number is 700 or more).
  bool requestFailed = false;
  bool summaryShown = false;  // exactly four figures were found and shown
  int rows = 0;               // rows appended to the list
  int pictures = 0;           // pictures that entered the picture list
};

// One run of the query against window. Runs never nest: a call made while another is in
// progress on the same thread (from an event served during the pause or inside the request)
// returns at once with ran false and touches nothing.
QueryOutcome RunQuery(QueryWindow& window, const QueryOptions& options = {});

}  // namespace sellmeter
