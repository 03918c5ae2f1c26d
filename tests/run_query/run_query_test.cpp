// The query command against a scripted report service on loopback, through the real request,
// download, extraction and picture layers, with a window made of plain data.
#include <gtest/gtest.h>
#include <httplib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "query/run_query.h"
#include "service/picture_maker.h"
#include "text/message_pump.h"
#include "text/timer_api.h"

namespace sellmeter {
namespace {

constexpr char kFixedField[] = "&B1=%B2%E9%D1%AF%D2%B5%BC%A8";

// A report service whose page and pictures each test writes.
class ScriptedService {
 public:
  ScriptedService() {
    server_.Post("/yeji/", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      bodies_.push_back(request.body);
      contentTypes_.push_back(request.get_header_value("Content-Type"));
      response.set_content(page_, "text/html");
    });
    server_.Get(R"(/p/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard lock(mutex_);
      pictureRequests_.push_back(request.matches[1]);
      auto it = pictures_.find(request.matches[1]);
      if (it == pictures_.end()) {
        response.status = 404;
        response.set_content("not found", "text/plain");
        return;
      }
      response.set_content(std::string(it->second.begin(), it->second.end()),
                           "application/octet-stream");
    });
    // Idle kept-alive connections would hold up stop() for the whole keep-alive time.
    server_.set_keep_alive_timeout(0);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ScriptedService() {
    server_.stop();
    thread_.join();
  }

  Text Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/yeji/"; }
  std::string PictureUrl(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/p/" + name;
  }
  void SetPage(std::string page) {
    std::lock_guard lock(mutex_);
    page_ = std::move(page);
  }
  void SetPicture(const std::string& name, ByteArray bytes) {
    std::lock_guard lock(mutex_);
    pictures_[name] = std::move(bytes);
  }
  std::vector<std::string> Bodies() {
    std::lock_guard lock(mutex_);
    return bodies_;
  }
  std::vector<std::string> ContentTypes() {
    std::lock_guard lock(mutex_);
    return contentTypes_;
  }
  std::vector<std::string> PictureRequests() {
    std::lock_guard lock(mutex_);
    return pictureRequests_;
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::string page_;
  std::map<std::string, ByteArray> pictures_;
  std::vector<std::string> bodies_;
  std::vector<std::string> contentTypes_;
  std::vector<std::string> pictureRequests_;
};

struct Product {
  std::string pictureUrl;
  std::array<std::string, 6> cells;
};

std::string Page(const std::vector<std::string>& figures, const std::vector<Product>& products) {
  std::string page = "<html><body><div class=\"summary\">\n";
  for (const std::string& figure : figures) page += "<span class=\"data\">" + figure + "</span>\n";
  page += "</div><table>\n";
  for (const Product& product : products) {
    page += "<tr><td><img src=\"" + product.pictureUrl + "\" width=\"60\"></td>";
    for (const std::string& cell : product.cells) page += "<td>" + cell + "</td>";
    page += "</tr>\n";
  }
  return page + "</table></body></html>\n";
}

// The window as data, with a log of the calls in order.
class RecordingWindow final : public QueryWindow {
 public:
  struct Row {
    std::array<Text, 8> texts;
    std::optional<int> picture;
  };

  Text nickname = "abc";
  std::array<Text, 4> labels;
  std::vector<Row> rows;
  std::optional<PictureList> pictures;
  std::vector<std::string> log;
  bool closed = false;

  Text Nickname() override {
    log.push_back("nickname");
    return nickname;
  }
  void SetValueLabel(ValueLabel label, const Text& text) override {
    log.push_back("label " + std::to_string(static_cast<int>(label)));
    labels[static_cast<std::size_t>(label)] = text;
  }
  void DeleteAllRows() override {
    log.push_back("delete rows");
    rows.clear();
  }
  void SetPictureList(PictureList list) override {
    log.push_back("pictures " + std::to_string(list.Count()));
    pictures.emplace(std::move(list));
  }
  int AppendRow() override {
    log.push_back("append");
    rows.emplace_back();
    return static_cast<int>(rows.size()) - 1;
  }
  void SetCellText(int row, int column, const Text& text) override {
    rows.at(static_cast<std::size_t>(row)).texts.at(static_cast<std::size_t>(column)) = text;
  }
  void SetCellPicture(int row, int column, std::optional<int> position) override {
    EXPECT_EQ(column, 1);
    rows.at(static_cast<std::size_t>(row)).picture = position;
  }
  bool Closed() override { return closed; }
};

ByteArray Png(int width, int height, std::uint32_t seed) {
  return service::EncodePng(service::MakeProductBitmap(seed, width, height));
}
ByteArray Bmp(int width, int height, std::uint32_t seed) {
  return service::EncodeBmp(service::MakeProductBitmap(seed, width, height));
}

TEST(RunQuery, FourFiguresAndThreeRowsFillTheWindow) {
  ScriptedService service;
  service.SetPicture("a.png", Png(60, 60, 1));
  service.SetPicture("b.bmp", Bmp(120, 80, 2));
  service.SetPicture("c.jpg", service::EncodeJpeg(service::MakeProductBitmap(3, 800, 800)));
  // Captured texts stay as they are: markup, entities, blanks, GBK (上衣 = C9 CF D2 C2).
  service.SetPage(Page({"12,345.00", " 67.5 ", "&lt;89", "\xC9\xCF\xD2\xC2"},
                       {{service.PictureUrl("a.png"),
                         {"<a href=\"/i/1\">\xC9\xCF\xD2\xC2</a>", "99.00", "79.00", "12", "3",
                          "948.00"}},
                        {service.PictureUrl("b.bmp"), {"t &amp; 2", "", " 1 ", "2", "3", "4"}},
                        {service.PictureUrl("c.jpg"), {"t3", "a", "b", "c", "d", "e"}}}));
  RecordingWindow window;
  std::vector<std::string> progress;
  QueryOptions options;
  options.reportUrl = service.Url();
  options.pictureDone = [&](int row, int rows, const CellPicture* picture) {
    progress.push_back(std::to_string(row) + "/" + std::to_string(rows) + " " +
                       (picture ? std::string(PictureFormatName(picture->format)) + " " +
                                      std::to_string(picture->width) + "x" +
                                      std::to_string(picture->height)
                                : std::string("none")));
  };
  const QueryOutcome outcome = RunQuery(window, options);

  EXPECT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.status, "200 OK");
  EXPECT_FALSE(outcome.requestFailed);
  EXPECT_TRUE(outcome.summaryShown);
  EXPECT_EQ(outcome.rows, 3);
  EXPECT_EQ(outcome.pictures, 3);
  EXPECT_EQ(service.Bodies(), std::vector<std::string>{"nick=%61%62%63" + std::string(kFixedField)});
  EXPECT_EQ(service.ContentTypes(), std::vector<std::string>{"application/x-www-form-urlencoded"});
  EXPECT_EQ(service.PictureRequests(), (std::vector<std::string>{"a.png", "b.bmp", "c.jpg"}));
  EXPECT_EQ(progress, (std::vector<std::string>{"1/3 png 60x60", "2/3 bmp 120x80",
                                                "3/3 jpeg 800x800"}));

  EXPECT_EQ(window.labels,
            (std::array<Text, 4>{"12,345.00", " 67.5 ", "&lt;89", "\xC9\xCF\xD2\xC2"}));
  ASSERT_EQ(window.rows.size(), 3u);
  EXPECT_EQ(window.rows[0].texts,
            (std::array<Text, 8>{"1", "", "<a href=\"/i/1\">\xC9\xCF\xD2\xC2</a>", "99.00",
                                 "79.00", "12", "3", "948.00"}));
  EXPECT_EQ(window.rows[1].texts,
            (std::array<Text, 8>{"2", "", "t &amp; 2", "", " 1 ", "2", "3", "4"}));
  EXPECT_EQ(window.rows[2].texts[0], "3");
  for (int j = 0; j < 3; ++j) EXPECT_EQ(window.rows[static_cast<std::size_t>(j)].picture, j);
  ASSERT_TRUE(window.pictures);
  EXPECT_EQ(window.pictures->Count(), 3);
  EXPECT_EQ(window.pictures->CellWidth(), 60);
  EXPECT_EQ(window.pictures->At(1)->format, PictureFormat::Bmp);

  // The list is emptied before anything else, filled in one pass after the last download.
  const std::vector<std::string> expected = {
      "delete rows", "nickname", "label 0", "label 1", "label 2", "label 3",
      "pictures 3",  "append",   "append",  "append"};
  EXPECT_EQ(window.log, expected);
}

TEST(RunQuery, EncodesTheNicknameByteByByte) {
  ScriptedService service;
  service.SetPage("");
  struct Case {
    Text nickname;
    std::string encoded;
  };
  const Case cases[] = {
      {"abc", "%61%62%63"},
      {"\xC2\xF4\xBC\xD2" "01", "%C2%F4%BC%D2%30%31"},  // 卖家01
      {"", ""},
      {"a b&c=%", "%61%20%62%26%63%3D%25"},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    RecordingWindow window;
    window.nickname = c.nickname;
    QueryOptions options;
    options.reportUrl = service.Url();
    RunQuery(window, options);
    expected.push_back("nick=" + c.encoded + kFixedField);
  }
  EXPECT_EQ(service.Bodies(), expected);
}

TEST(RunQuery, OnlyExactlyFourFiguresReachTheLabels) {
  ScriptedService service;
  service.SetPicture("a.png", Png(60, 60, 1));
  const Product row{service.PictureUrl("a.png"), {"t", "1", "2", "3", "4", "5"}};
  for (const std::vector<std::string>& figures :
       {std::vector<std::string>{}, {"1", "2", "3"}, {"1", "2", "3", "4", "5"}}) {
    service.SetPage(Page(figures, {row, row}));
    RecordingWindow window;
    window.labels = {"old1", "old2", "old3", "old4"};
    QueryOptions options;
    options.reportUrl = service.Url();
    const QueryOutcome outcome = RunQuery(window, options);
    EXPECT_FALSE(outcome.summaryShown) << figures.size();
    EXPECT_EQ(window.labels, (std::array<Text, 4>{"old1", "old2", "old3", "old4"}));
    // The rows are shown all the same.
    ASSERT_EQ(window.rows.size(), 2u) << figures.size();
    EXPECT_EQ(window.rows[1].texts[0], "2");
    EXPECT_EQ(window.rows[1].picture, 1);
  }
}

TEST(RunQuery, EachRowShowsItsOwnPictureOrNone) {
  ScriptedService service;
  service.SetPicture("ok1.png", Png(60, 60, 1));
  service.SetPicture("junk.png", ByteArray{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
  ByteArray truncated = Png(60, 60, 3);
  truncated.resize(truncated.size() / 2);
  service.SetPicture("cut.png", truncated);
  service.SetPicture("ok2.bmp", Bmp(30, 90, 4));
  service.SetPage(Page({}, {{service.PictureUrl("ok1.png"), {"r1", "", "", "", "", ""}},
                            {service.PictureUrl("missing.png"), {"r2", "", "", "", "", ""}},
                            {service.PictureUrl("junk.png"), {"r3", "", "", "", "", ""}},
                            {service.PictureUrl("cut.png"), {"r4", "", "", "", "", ""}},
                            {service.PictureUrl("ok2.bmp"), {"r5", "", "", "", "", ""}},
                            {"", {"r6", "", "", "", "", ""}},
                            {"http://127.0.0.1:1/dead.png", {"r7", "", "", "", "", ""}}}));
  RecordingWindow window;
  int calls = 0;
  int decoded = 0;
  QueryOptions options;
  options.reportUrl = service.Url();
  options.pictureDone = [&](int row, int rows, const CellPicture* picture) {
    EXPECT_EQ(row, ++calls);
    EXPECT_EQ(rows, 7);
    decoded += picture != nullptr;
  };
  const QueryOutcome outcome = RunQuery(window, options);
  EXPECT_EQ(calls, 7);
  EXPECT_EQ(decoded, 2);
  EXPECT_EQ(outcome.pictures, 2);
  ASSERT_EQ(window.rows.size(), 7u);
  const std::optional<int> expected[] = {0, std::nullopt, std::nullopt, std::nullopt, 1,
                                         std::nullopt, std::nullopt};
  for (std::size_t j = 0; j < 7; ++j) {
    EXPECT_EQ(window.rows[j].texts[2], "r" + std::to_string(j + 1));
    EXPECT_EQ(window.rows[j].picture, expected[j]) << "row " << j + 1;
  }
  ASSERT_TRUE(window.pictures);
  EXPECT_EQ(window.pictures->At(1)->width, 30);
  EXPECT_EQ(window.pictures->At(1)->height, 90);
}

TEST(RunQuery, AnUnreachableServiceLeavesAnEmptyListAndTheLabels) {
  RecordingWindow window;
  window.labels = {"a", "b", "c", "d"};
  window.rows.resize(2);
  QueryOptions options;
  options.reportUrl = "http://127.0.0.1:1/yeji/";
  const QueryOutcome outcome = RunQuery(window, options);
  EXPECT_TRUE(outcome.ran);
  EXPECT_TRUE(outcome.requestFailed);
  ASSERT_GE(outcome.status.size(), 4u);
  EXPECT_EQ(outcome.status[0], '7');
  EXPECT_EQ(outcome.status.back(), '!');
  EXPECT_EQ(window.labels, (std::array<Text, 4>{"a", "b", "c", "d"}));
  EXPECT_TRUE(window.rows.empty());
  ASSERT_TRUE(window.pictures);
  EXPECT_EQ(window.pictures->Count(), 0);
}

TEST(RunQuery, TheDefaultAddressIsTheBuiltInServiceHost) {
  const Text url = DefaultReportUrl();
  EXPECT_EQ(url.rfind("http://", 0), 0u);
  EXPECT_EQ(url.substr(url.size() - 6), "/yeji/");
  EXPECT_GT(url.size(), std::string("http:///yeji/").size());
}

// Window events served during the pause: the timers report waiting messages once, then the
// pump in force plays the user's part.
class MessagesOnceTimers final : public TimerApi {
 public:
  bool paused = false;  // the pause has begun
  WaitHandle CreateWaitableTimerA(void* a, bool m, const char* n) override {
    paused = true;
    served_ = false;
    return PlatformTimerApi().CreateWaitableTimerA(a, m, n);
  }
  bool SetWaitableTimer(WaitHandle t, const std::int64_t* d, std::int32_t p, void* r, void* a,
                        bool s) override {
    return PlatformTimerApi().SetWaitableTimer(t, d, p, r, a, s);
  }
  std::uint32_t MsgWaitForMultipleObjects(std::uint32_t count, const WaitHandle* handles,
                                          bool all, std::uint32_t ms,
                                          std::uint32_t mask) override {
    if (!served_) {
      served_ = true;
      return kWaitObject0 + count;
    }
    return PlatformTimerApi().MsgWaitForMultipleObjects(count, handles, all, ms, mask);
  }
  bool CloseHandle(WaitHandle h) override { return PlatformTimerApi().CloseHandle(h); }

 private:
  bool served_ = false;
};

class CallbackPump final : public MessagePump {
 public:
  std::function<void()> onDispatch;
  void DispatchPending() override {
    if (onDispatch) onDispatch();
  }
};

TEST(RunQuery, AClickDuringARunStartsNoSecondRun) {
  ScriptedService service;
  service.SetPicture("a.png", Png(60, 60, 1));
  service.SetPage(Page({"1", "2", "3", "4"}, {{service.PictureUrl("a.png"), {"t", "", "", "", "", ""}}}));
  QueryOptions options;
  options.reportUrl = service.Url();
  RecordingWindow window;
  RecordingWindow second;
  std::vector<QueryOutcome> nested;
  MessagesOnceTimers timers;
  CallbackPump pump;
  pump.onDispatch = [&] { nested.push_back(RunQuery(second, options)); };
  {
    ScopedTimerApi useTimers(timers);
    ScopedMessagePump usePump(pump);
    EXPECT_TRUE(RunQuery(window, options).ran);
  }
  ASSERT_FALSE(nested.empty());
  for (const QueryOutcome& outcome : nested) EXPECT_FALSE(outcome.ran);
  EXPECT_TRUE(second.log.empty());
  EXPECT_EQ(service.Bodies().size(), 1u);
  EXPECT_EQ(window.rows.size(), 1u);
  // Once the run has ended, the next click runs again.
  EXPECT_TRUE(RunQuery(second, options).ran);
  EXPECT_EQ(second.rows.size(), 1u);
}

TEST(RunQuery, AWindowClosedDuringThePauseGetsNoPicturesOrRows) {
  ScriptedService service;
  service.SetPicture("a.png", Png(60, 60, 1));
  service.SetPage(Page({"1", "2", "3", "4"}, {{service.PictureUrl("a.png"), {"t", "", "", "", "", ""}}}));
  QueryOptions options;
  options.reportUrl = service.Url();
  RecordingWindow window;
  MessagesOnceTimers timers;
  CallbackPump pump;
  ScopedTimerApi useTimers(timers);
  ScopedMessagePump usePump(pump);
  // The request's own dispatch points come first; the window closes only once the pause runs.
  pump.onDispatch = [&] { window.closed = window.closed || timers.paused; };
  const QueryOutcome outcome = RunQuery(window, options);
  EXPECT_TRUE(outcome.ran);
  EXPECT_TRUE(timers.paused);
  EXPECT_TRUE(window.closed);
  EXPECT_TRUE(service.PictureRequests().empty());
  EXPECT_TRUE(window.rows.empty());
  EXPECT_EQ(window.labels[3], "4");
}

}  // namespace
}  // namespace sellmeter
