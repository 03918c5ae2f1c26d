// sellmeter-query as a user runs it, against the stand-in service on an ephemeral port.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "service/report_page.h"
#include "service/service.h"
#include "tools/query/query_output.h"

namespace sellmeter {
namespace {

using service::ReportService;
using service::ServiceOptions;

struct CommandRun {
  int exitCode = -1;
  std::string out, err;
};

// Drains both pipes together, so that neither can fill up and stall the child.
void ReadBoth(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[4096];
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

CommandRun RunQueryCommand(std::vector<std::string> args) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<char*> argv = {const_cast<char*>(QUERY_EXE)};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(QUERY_EXE, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  CommandRun run;
  ReadBoth(out[0], err[0], run.out, run.err);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class QueryCommand : public ::testing::Test {
 protected:
  void Serve(ServiceOptions options) {
    options_ = options;
    service_ = std::make_unique<ReportService>(options);
    port_ = service_->Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  ServiceOptions options_;
  std::unique_ptr<ReportService> service_;
  int port_ = 0;
};

TEST_F(QueryCommand, JsonCarriesEveryFieldOfTheReport) {
  ServiceOptions options;
  options.failPicturesPercent = 35;
  options.products = 12;
  Serve(options);
  const std::string nick = "张三的小店";
  const CommandRun run = RunQueryCommand({nick, "--json", "--service", Host()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  const auto report = service::MakeReport(service::Utf8ToGbk(nick), options);

  ASSERT_TRUE(json["summary"].is_object());
  EXPECT_EQ(json["summary"]["salesAmount"], report.salesAmount);
  EXPECT_EQ(json["summary"]["averageOrderValue"], report.averageOrderValue);
  EXPECT_EQ(json["summary"]["monthlySalesCount"], report.monthlySalesCount);
  EXPECT_EQ(json["summary"]["itemsOnSale"], "12");
  EXPECT_EQ(json.size(), 2u);

  ASSERT_EQ(json["rows"].size(), 12u);
  int withPicture = 0;
  for (std::size_t i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const auto& row = json["rows"][i];
    const auto& product = report.products[i];
    EXPECT_EQ(row.size(), 9u);
    EXPECT_EQ(row["number"], i + 1);
    EXPECT_EQ(row["pictureUrl"], "http://" + Host() + service::PicturePath(product.picture));
    const std::string title = row["title"];
    if (product.linked) {
      EXPECT_EQ(title.rfind("<a href=\"", 0), 0u) << title;
      EXPECT_EQ(title.substr(title.size() - product.title.size() - 4), product.title + "</a>");
    } else {
      EXPECT_EQ(title, product.title);
    }
    EXPECT_EQ(row["fixedPrice"], product.fixedPrice);
    EXPECT_EQ(row["discountPrice"], product.discountPrice);
    EXPECT_EQ(row["monthlySales"], product.monthlySales);
    EXPECT_EQ(row["reviewCount"], product.reviewCount);
    EXPECT_EQ(row["monthlyTurnover"], product.monthlyTurnover);
    if (service::PictureFails(product.picture, options.failPicturesPercent)) {
      EXPECT_TRUE(row["picture"].is_null()) << "a failed picture shows none, never a neighbour's";
    } else {
      ++withPicture;
      ASSERT_TRUE(row["picture"].is_object());
      EXPECT_EQ(row["picture"]["format"], PictureFormatName(product.picture.format));
      EXPECT_EQ(row["picture"]["width"], product.picture.width);
      EXPECT_EQ(row["picture"]["height"], product.picture.height);
    }
  }
  EXPECT_GT(withPicture, 0);
  EXPECT_LT(withPicture, 12);
  EXPECT_EQ(service_->PictureRequests(), 12);
  EXPECT_TRUE(run.err.empty()) << "no progress bar when stderr is not a terminal: " << run.err;
}

TEST_F(QueryCommand, Utf8PageGivesTheSameResultAsGbk) {
  ServiceOptions options;
  Serve(options);
  const CommandRun gbk = RunQueryCommand({"小店", "--json", "--service", Host()});
  service_->Stop();
  options.utf8 = true;
  Serve(options);
  const CommandRun utf8 = RunQueryCommand({"小店", "--json", "--service", Host()});
  ASSERT_EQ(gbk.exitCode, 0);
  ASSERT_EQ(utf8.exitCode, 0);
  auto a = nlohmann::json::parse(gbk.out), b = nlohmann::json::parse(utf8.out);
  for (auto* json : {&a, &b})
    for (auto& row : (*json)["rows"]) row["pictureUrl"] = "";  // the ports differ
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a["rows"].empty());
}

TEST_F(QueryCommand, TableShowsSummaryRowsAndPictures) {
  ServiceOptions options;
  options.products = 3;
  options.pictureFormat = PictureFormat::Png;
  options.pictureWidth = 200;
  options.pictureHeight = 150;
  Serve(options);
  const CommandRun run = RunQueryCommand({"abc", "--service", Host()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto report = service::MakeReport("abc", options);
  EXPECT_NE(run.out.find("销售金额    " + report.salesAmount + "\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("在线商品数  3\n"), std::string::npos);
  EXPECT_NE(run.out.find("序号  图片"), std::string::npos);
  for (int i = 0; i < 3; ++i) {
    const std::string line = "\n" + std::to_string(i + 1) + "     png 200x150  ";
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
    EXPECT_NE(run.out.find(report.products[static_cast<std::size_t>(i)].monthlyTurnover + "\n"), std::string::npos);
  }

  options.products = 0;
  service_->Stop();
  Serve(options);
  const CommandRun empty = RunQueryCommand({"abc", "--service", Host()});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_NE(empty.out.find("(no rows)"), std::string::npos);
}

// On a terminal stderr carries a progress bar that ends up at the last picture and is then
// wiped; stdout still gets only the result.
TEST_F(QueryCommand, ProgressBarOnATerminal) {
  ServiceOptions options;
  options.products = 4;
  Serve(options);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    const std::string host = Host();
    execl(QUERY_EXE, QUERY_EXE, "abc", "--json", "--service", host.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string result, bar;
  ReadBoth(out[0], terminal, result, bar);  // the terminal reports EIO once the child is gone
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  close(terminal);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << bar;
  EXPECT_NE(bar.find("\rpictures [#######.......................] 1/4"), std::string::npos) << bar;
  EXPECT_NE(bar.find("\rpictures [##############################] 4/4"), std::string::npos) << bar;
  EXPECT_EQ(bar.substr(bar.size() - 4), "\r\033[K");
  EXPECT_EQ(nlohmann::json::parse(result)["rows"].size(), 4u);
}

TEST_F(QueryCommand, EmptyNicknameIsQueriedLikeAnyOther) {
  Serve({});
  const CommandRun run = RunQueryCommand({"", "--json", "--service", Host()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["rows"].size(), service::MakeReport("", {}).products.size());
}

TEST(QueryCommandFailures, DeadServiceAndBadArguments) {
  // A port nobody listens on: bind one, note it, close it.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  const std::string dead = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  const CommandRun down = RunQueryCommand({"abc", "--json", "--service", dead});
  EXPECT_NE(down.exitCode, 0);
  EXPECT_TRUE(down.out.empty()) << down.out;
  ASSERT_GE(down.err.size(), 6u);
  const int code = std::stoi(down.err.substr(0, 3));
  EXPECT_GE(code, 700);
  EXPECT_LE(code, 713);
  EXPECT_EQ(down.err[3], ' ');
  EXPECT_EQ(down.err.substr(down.err.size() - 2), "!\n") << down.err;

  // A server that is not the report service: the page is read like any other, with a note.
  httplib::Server other;
  const int otherPort = other.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { other.listen_after_bind(); });
  const CommandRun notFound = RunQueryCommand({"abc", "--json", "--service", "127.0.0.1:" + std::to_string(otherPort)});
  while (!other.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  other.stop();
  serving.join();
  EXPECT_EQ(notFound.exitCode, 0);
  EXPECT_EQ(notFound.out, "{\"summary\":null,\"rows\":[]}\n");
  EXPECT_EQ(notFound.err, "sellmeter-query: the service answered \"404 Not Found\"\n");

  const std::vector<std::vector<std::string>> bad = {
      {}, {"--json"}, {"a", "b"}, {"a", "--service"}, {"a", "--service", "h/x"}, {"a", "--port", "1"}};
  for (const auto& args : bad) {
    const CommandRun run = RunQueryCommand(args);
    EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(run.err.find("usage: sellmeter-query"), std::string::npos);
  }
}

TEST(QueryOutput, JsonStringsAndDisplayWidths) {
  const std::pair<std::string, std::string> strings[] = {
      {"plain", "\"plain\""},
      {"q\"b\\s", "\"q\\\"b\\\\s\""},
      {"a\nb\tc\x01", "\"a\\nb\\tc\\u0001\""},
      {"张三", "\"张三\""},
      {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
      {"\xE5\xBC", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a cut sequence
  };
  for (const auto& [in, out] : strings) EXPECT_EQ(JsonString(in), out) << in;
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("张三ab"), 6);
  EXPECT_EQ(DisplayWidth("１"), 2);  // full-width digit
}

}  // namespace
}  // namespace sellmeter
