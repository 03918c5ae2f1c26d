// A click on the query button of the real window against the stand-in service on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/linux/qt_main_window.h"
#include "app/main_layout.h"
#include "query/run_query.h"
#include "service/service.h"
#include "skin/skin_startup.h"

namespace sellmeter {
namespace {

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

class WindowQueryTest : public ::testing::Test {
 protected:
  void Open(const std::string& reportUrl) {
    MainWindowEvents events;
    events.queryClicked = [this, reportUrl](QueryWindow& w) {
      QueryOptions options;
      options.reportUrl = reportUrl;
      outcomes.push_back(RunQuery(w, options));
    };
    window = std::make_unique<QtMainWindow>(events);
    window->show();
    QApplication::processEvents();
  }
  void Click() { static_cast<QPushButton*>(window->Control(kQueryButton))->click(); }
  void SetNickname(const QString& nickname) {
    static_cast<QLineEdit*>(window->Control(kNicknameEdit))->setText(nickname);
  }
  QString LabelText(int i) {
    return static_cast<QLabel*>(window->Control(kValueLabels[i]))->text();
  }
  QTreeWidget* List() { return window->ReportList(); }
  static std::string Url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/yeji/"; }

  std::unique_ptr<QtMainWindow> window;
  std::vector<QueryOutcome> outcomes;
};

void ExpectShows(WindowQueryTest& test, QTreeWidget* list, const service::SellerReport& report,
                 const QString labels[4]) {
  const QString expected[4] = {Utf8(report.salesAmount), Utf8(report.averageOrderValue),
                               Utf8(report.monthlySalesCount), Utf8(report.itemsOnSale)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(labels[i], expected[i]) << i;
  ASSERT_EQ(list->topLevelItemCount(), static_cast<int>(report.products.size()));
  for (int j = 0; j < list->topLevelItemCount(); ++j) {
    const QTreeWidgetItem* item = list->topLevelItem(j);
    const service::ProductEntry& product = report.products[static_cast<std::size_t>(j)];
    EXPECT_EQ(item->text(0), QString::number(j + 1));
    EXPECT_TRUE(item->text(1).isEmpty());
    EXPECT_FALSE(item->icon(1).isNull()) << "row " << j + 1;
    EXPECT_TRUE(item->text(2).contains(Utf8(product.title))) << item->text(2).toStdString();
    EXPECT_EQ(item->text(3), Utf8(product.fixedPrice));
    EXPECT_EQ(item->text(4), Utf8(product.discountPrice));
    EXPECT_EQ(item->text(5), Utf8(product.monthlySales));
    EXPECT_EQ(item->text(6), Utf8(product.reviewCount));
    EXPECT_EQ(item->text(7), Utf8(product.monthlyTurnover));
  }
  (void)test;
}

TEST_F(WindowQueryTest, ClicksFillTheLabelsAndRowsAndASecondRunReplacesThem) {
  service::ReportService service;
  const int port = service.Start();
  ASSERT_GT(port, 0);
  Open(Url(port));

  Click();
  ASSERT_EQ(outcomes.size(), 1u);
  QString labels[4];
  for (int i = 0; i < 4; ++i) labels[i] = LabelText(i);
  ExpectShows(*this, List(), service::MakeReport("shopnick01", {}), labels);
  EXPECT_EQ(window->Pictures().Count(), List()->topLevelItemCount());

  // 卖家 in GBK is C2 F4 BC D2.
  SetNickname(QString::fromUtf8("卖家"));
  Click();
  for (int i = 0; i < 4; ++i) labels[i] = LabelText(i);
  ExpectShows(*this, List(), service::MakeReport("\xC2\xF4\xBC\xD2", {}), labels);
  EXPECT_EQ(service.PageRequests(), 2);

  // The service goes away: the labels keep their figures and the list is left empty.
  service.Stop();
  Click();
  EXPECT_TRUE(outcomes.back().requestFailed);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(LabelText(i), labels[i]);
  EXPECT_EQ(List()->topLevelItemCount(), 0);
  EXPECT_EQ(window->Pictures().Count(), 0);
  // And the window still works.
  SetNickname("x");
  EXPECT_EQ(window->Nickname(), "x");
}

TEST_F(WindowQueryTest, AnEmptyNicknamePostsTheFixedFieldAlone) {
  httplib::Server server;
  std::string body;
  server.Post("/yeji/", [&](const httplib::Request& request, httplib::Response& response) {
    body = request.body;
    response.set_content("<html></html>", "text/html");
  });
  server.set_keep_alive_timeout(0);
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Open(Url(port));
  SetNickname("");
  Click();
  server.stop();
  thread.join();
  EXPECT_EQ(body, "nick=&B1=%B2%E9%D1%AF%D2%B5%BC%A8");
}

TEST_F(WindowQueryTest, AClickDuringTheQueryIsIgnored) {
  service::ReportService service;
  const int port = service.Start();
  ASSERT_GT(port, 0);
  Open(Url(port));
  // The second click lands inside the first query's half-second pause.
  bool clickedAgain = false;
  QTimer::singleShot(150, window.get(), [&] {
    clickedAgain = true;
    Click();
  });
  Click();
  EXPECT_TRUE(clickedAgain);
  // The inner click returns first, having done nothing; the outer run fills the list.
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_FALSE(outcomes[0].ran);
  EXPECT_TRUE(outcomes[1].ran);
  EXPECT_EQ(service.PageRequests(), 1);
  EXPECT_GT(outcomes[1].rows, 0);
  EXPECT_EQ(List()->topLevelItemCount(), outcomes[1].rows);
}

// Closing the window during the pause: the window hides, the query ends without downloading,
// and the message loop ends only after the click has returned.
TEST_F(WindowQueryTest, ClosingDuringThePauseEndsTheProgramAfterTheQuery) {
  service::ReportService service;
  const int port = service.Start();
  ASSERT_GT(port, 0);
  Open(Url(port));
  bool clickReturned = false;
  bool stuck = false;
  QTimer::singleShot(0, window.get(), [&] {
    QTimer::singleShot(150, window.get(), [&] { window->close(); });
    Click();
    clickReturned = true;
  });
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    stuck = true;
    QApplication::exit(1);
  });
  guard.start(10000);
  const int code = QApplication::exec();
  guard.stop();
  EXPECT_FALSE(stuck);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(clickReturned);
  EXPECT_TRUE(window->Closed());
  EXPECT_EQ(service.PageRequests(), 1);
  EXPECT_EQ(service.PictureRequests(), 0);
  EXPECT_EQ(List()->topLevelItemCount(), 0);
}

TEST_F(WindowQueryTest, ThousandsOfRowsAndBadPicturesLeaveTheWindowUsable) {
  httplib::Server server;
  ByteArray hugePng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                       0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60, 8, 6, 0, 0, 0};  // 60000 x 60000
  server.Get("/huge.png", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(hugePng.begin(), hugePng.end()), "image/png");
  });
  server.Get("/text.png", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content("<html>not a picture</html>", "text/html");
  });
  server.set_keep_alive_timeout(0);
  const int port = server.bind_to_any_port("127.0.0.1");
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  std::string page = "<span class=\"data\">1</span><span class=\"data\">2</span>"
                     "<span class=\"data\">3</span><span class=\"data\">4</span>\n";
  constexpr int kRows = 3000;
  for (int i = 0; i < kRows; ++i) {
    // A few rows fetch the bad pictures; the rest have no address to fetch.
    const std::string src = i == 0 ? base + "/huge.png" : i == 1 ? base + "/text.png" : "";
    page += "<tr><td><img src=\"" + src + "\"></td><td>t" + std::to_string(i) +
            "</td><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>\n";
  }
  server.Post("/yeji/", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(page, "text/html");
  });
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Open(Url(port));
  Click();
  server.stop();
  thread.join();
  ASSERT_EQ(List()->topLevelItemCount(), kRows);
  EXPECT_EQ(List()->topLevelItem(kRows - 1)->text(0), QString::number(kRows));
  EXPECT_EQ(List()->topLevelItem(kRows - 1)->text(2), QString("t%1").arg(kRows - 1));
  EXPECT_EQ(window->Pictures().Count(), 0);
  EXPECT_TRUE(List()->topLevelItem(0)->icon(1).isNull());
  EXPECT_EQ(LabelText(3), "4");
  List()->scrollToBottom();
  QApplication::processEvents();
  EXPECT_FALSE(window->grab().isNull());
}

}  // namespace
}  // namespace sellmeter
