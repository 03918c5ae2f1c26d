#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "query/picture.h"
#include "service/report_page.h"
#include "service/service.h"

namespace sellmeter::service {
namespace {

const std::string kAbc = "abc";
const std::string kChinese = Utf8ToGbk("张三的小店");

std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

TEST(ReportPage, DeterministicPerNicknameAndDifferentAcrossSellers) {
  const ServiceOptions options;
  const auto a1 = RenderReportPage(kAbc, MakeReport(kAbc, options), "http://h:1", options);
  const auto a2 = RenderReportPage(kAbc, MakeReport(kAbc, options), "http://h:1", options);
  const auto b = RenderReportPage(kChinese, MakeReport(kChinese, options), "http://h:1", options);
  EXPECT_EQ(a1, a2);
  EXPECT_NE(a1, b);

  std::set<std::string> amounts;
  std::set<std::size_t> counts;
  for (int i = 0; i < 40; ++i) {
    const auto report = MakeReport("seller" + std::to_string(i), options);
    amounts.insert(report.salesAmount);
    counts.insert(report.products.size());
    EXPECT_GE(report.products.size(), 3u);
    EXPECT_LE(report.products.size(), 12u);
    EXPECT_EQ(report.itemsOnSale, std::to_string(report.products.size()));
  }
  EXPECT_GT(amounts.size(), 35u);
  EXPECT_GT(counts.size(), 4u);

  ServiceOptions many;
  many.products = 250;
  EXPECT_EQ(MakeReport(kAbc, many).products.size(), 250u);
}

TEST(ReportPage, GbkByDefaultUtf8OnRequestWithTheCharsetInTheFirstKilobyte) {
  ServiceOptions options;
  const auto report = MakeReport(kChinese, options);
  const auto gbk = RenderReportPage(kChinese, report, "http://h:1", options);
  EXPECT_NE(gbk.find(Utf8ToGbk("销售金额")), std::string::npos);
  EXPECT_NE(gbk.find(kChinese), std::string::npos);
  EXPECT_NE(gbk.substr(0, 1024).find("charset=gb2312"), std::string::npos);

  options.utf8 = true;
  const auto utf8 = RenderReportPage(kChinese, report, "http://h:1", options);
  EXPECT_NE(utf8.substr(0, 1024).find("charset=utf-8"), std::string::npos);
  EXPECT_NE(utf8.find("销售金额"), std::string::npos);
  EXPECT_NE(utf8.find("张三的小店"), std::string::npos);
  std::string back = GbkToUtf8Text(gbk);  // every character survives GBK
  back.replace(back.find("charset=gb2312") + 8, 6, "utf-8");
  EXPECT_EQ(back, utf8);
}

TEST(ReportPage, NicknameCannotAddFiguresOrRows) {
  const std::string hostile = "x\"data\">9</span><img src=\"http://evil/\"><td>1</td>";
  const ServiceOptions options;
  const auto report = MakeReport(hostile, options);
  const auto page = RenderReportPage(hostile, report, "http://h:1", options);
  EXPECT_EQ(Count(page, "\"data\">"), 4u);
  EXPECT_EQ(Count(page, "<img src="), report.products.size());
  EXPECT_NE(page.find("&lt;img src=&quot;http://evil/&quot;&gt;"), std::string::npos);
}

TEST(ReportPage, FormBodyGivesTheGbkNickname) {
  const std::pair<std::string, std::string> cases[] = {
      {"nick=%61%62%63&B1=%B2%E9%D1%AF%D2%B5%BC%A8", "abc"},
      {"B1=%B2%E9&nick=%D5%C5%C8%FD", "\xD5\xC5\xC8\xFD"},
      {"nick=&B1=%B2%E9%D1%AF%D2%B5%BC%A8", ""},
      {"nick=a+b%2", "a b%2"},
      {"nick=%zz%4", "%zz%4"},
      {"B1=x", ""},
      {"", ""},
  };
  for (const auto& [body, nick] : cases) EXPECT_EQ(NicknameFromForm(body), nick) << body;
}

TEST(Pictures, EveryFormatAndSizeDecodesAsMade) {
  for (PictureFormat format : {PictureFormat::Jpeg, PictureFormat::Png, PictureFormat::Gif, PictureFormat::Bmp})
    for (auto [w, h] : {std::pair{60, 60}, {310, 200}, {90, 160}}) {
      const PictureSpec shape{0xABCDu, 3, w, h, format};
      const auto parsed = ParsePicturePath(PicturePath(shape));
      ASSERT_TRUE(parsed) << PicturePath(shape);
      EXPECT_EQ(PicturePath(*parsed), PicturePath(shape));
      const auto decoded = DecodePicture(MakePicture(shape));
      ASSERT_TRUE(decoded) << PicturePath(shape);
      EXPECT_EQ(decoded->format, format);
      EXPECT_EQ(decoded->width, w);
      EXPECT_EQ(decoded->height, h);
      const std::uint32_t corner = decoded->bitmap.pixels[0];
      if (format == PictureFormat::Jpeg)  // lossy: near white
        EXPECT_GT(std::min({corner >> 16 & 0xFF, corner >> 8 & 0xFF, corner & 0xFF}), 0xE0u);
      else
        EXPECT_EQ(corner & 0xFFFFFF, 0xFFFFFFu) << "white ground for the mask";
    }
  for (const char* bad : {"/pictures/", "/pictures/1-2-3x4.tif", "/pictures/1-2-3000x4.png", "/pictures/1-2-0x4.png",
                          "/pictures/zz-2-3x4.png", "/pictures/1--2-3x4.png", "/other/1-2-3x4.png"})
    EXPECT_FALSE(ParsePicturePath(bad)) << bad;
}

TEST(Pictures, FailureShareIsDeterministicByUrl) {
  int failed = 0;
  for (int i = 0; i < 1000; ++i) {
    const PictureSpec shape{77u, i, 60, 60, PictureFormat::Png};
    EXPECT_FALSE(PictureFails(shape, 0));
    EXPECT_TRUE(PictureFails(shape, 100));
    EXPECT_EQ(PictureFails(shape, 30), PictureFails(shape, 30));
    failed += PictureFails(shape, 30);
  }
  EXPECT_GT(failed, 220);
  EXPECT_LT(failed, 380);
}

class RunningService : public ::testing::Test {
 protected:
  void Serve(ServiceOptions options) {
    service_ = std::make_unique<ReportService>(options);
    port_ = service_->Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::unique_ptr<ReportService> service_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(RunningService, PostsPagesAndServesTheirPictures) {
  ServiceOptions options;
  options.failPicturesPercent = 40;
  Serve(options);
  const std::string body = "nick=%D5%C5%C8%FD&B1=%B2%E9%D1%AF%D2%B5%BC%A8";
  auto page = client_->Post("/yeji/", body, "application/x-www-form-urlencoded");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=gbk");
  const auto report = MakeReport("\xD5\xC5\xC8\xFD", options);
  EXPECT_EQ(page->body, RenderReportPage("\xD5\xC5\xC8\xFD", report, Base(), options));

  int served = 0, refused = 0;
  for (const auto& product : report.products) {
    auto picture = client_->Get(PicturePath(product.picture).c_str());
    ASSERT_TRUE(picture);
    if (PictureFails(product.picture, 40)) {
      EXPECT_EQ(picture->status, 404);
      ++refused;
      continue;
    }
    ++served;
    ASSERT_EQ(picture->status, 200);
    const ByteArray bytes(picture->body.begin(), picture->body.end());
    EXPECT_EQ(bytes, MakePicture(product.picture));
    EXPECT_EQ(picture->get_header_value("Content-Type"),
              "image/" + std::string(PictureFormatName(product.picture.format)));
  }
  EXPECT_EQ(service_->PageRequests(), 1);
  EXPECT_EQ(service_->PictureRequests(), served + refused);

  auto missing = client_->Get("/pictures/nothing.png");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  auto get = client_->Get("/yeji/");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
}

TEST_F(RunningService, ABusyPortIsRefusedNotShared) {
  Serve({});
  ReportService second;
  EXPECT_EQ(second.Start("127.0.0.1", port_), -1);
  EXPECT_TRUE(client_->Post("/yeji/", "nick=%61", "application/x-www-form-urlencoded"));
}

TEST_F(RunningService, Utf8PagesAndFixedPictures) {
  ServiceOptions options;
  options.utf8 = true;
  options.products = 30;
  options.pictureFormat = PictureFormat::Gif;
  options.pictureWidth = 33;
  options.pictureHeight = 44;
  Serve(options);
  auto page = client_->Post("/yeji/", "nick=%61&B1=%B2%E9%D1%AF%D2%B5%BC%A8", "application/x-www-form-urlencoded");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("销售金额"), std::string::npos);
  EXPECT_EQ(Count(page->body, "<img src=\"" + Base() + "/pictures/"), 30u);
  EXPECT_EQ(Count(page->body, "-33x44.gif\""), 30u);
}

// The executable: prints the port it picked, answers, and ends cleanly on SIGTERM.
TEST(ServiceExecutable, PicksAFreePortAndStopsOnSigterm) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(SERVICE_EXE, SERVICE_EXE, "--port", "0", "--products", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* lines = fdopen(out[0], "r");
  char line[256] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, lines));
  int port = 0;
  ASSERT_EQ(std::sscanf(line, "listening on http://127.0.0.1:%d/", &port), 1) << line;
  httplib::Client client("127.0.0.1", port);
  auto page = client.Post("/yeji/", "nick=%61&B1=", "application/x-www-form-urlencoded");
  ASSERT_TRUE(page);
  EXPECT_EQ(Count(page->body, "<img src="), 2u);
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::fclose(lines);

  for (const char* bad : {"--port=1", "--fail-pictures", "--fail-pictures 101", "--picture-size 10"}) {
    const std::string command = std::string(SERVICE_EXE) + " " + bad + " 2>/dev/null";
    const int rc = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 2) << bad;
  }
}

}  // namespace
}  // namespace sellmeter::service
