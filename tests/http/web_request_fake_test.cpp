// WebRequest's call sequence, failure texts and out arguments over a scripted WinHTTP.
#include <gtest/gtest.h>

#include <set>

#include "http/ado_stream_api.h"
#include "http/web_request.h"
#include "text/codepage.h"
#include "winhttp_fake.h"

namespace sellmeter {
namespace {

using testing::CountingCom;
using testing::CountingPump;
using testing::FakeWinHttp;

Text Gbk(std::u16string_view text) { return U16ToText(text, kCpGbk); }
std::string Utf8(std::string_view gbk) { return U16ToText(TextToU16(gbk, kCpGbk), kCpUtf8); }

const std::string kDefaultLines =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n";

// A stream that records its calls and decodes nothing: ReadText gives `text`.
class FakeStream final : public AdoStream {
 public:
  explicit FakeStream(std::vector<std::string>& calls, std::set<std::u16string> refused,
                      std::u16string text)
      : calls_(calls), refused_(std::move(refused)), text_(std::move(text)) {}
  bool SetType(int type) override { return Log("Type=" + std::to_string(type)); }
  bool SetMode(int mode) override { return Log("Mode=" + std::to_string(mode)); }
  bool Open() override { return Log("Open"); }
  bool Write(ByteArray bytes) override {
    return Log("Write " + std::string(bytes.begin(), bytes.end()));
  }
  bool SetPosition(long long position) override {
    return Log("Position=" + std::to_string(position));
  }
  bool SetCharset(std::u16string_view charset) override {
    Log("Charset=" + U16ToText(charset, kCpUtf8));
    return refused_.count(std::u16string(charset)) == 0;
  }
  bool ReadText(std::u16string& text) override {
    text = text_;
    return Log("ReadText");
  }
  bool Close() override { return Log("Close"); }

 private:
  bool Log(const std::string& call) {
    calls_.push_back(call);
    return true;
  }
  std::vector<std::string>& calls_;
  std::set<std::u16string> refused_;
  std::u16string text_;
};

class FakeStreams final : public AdoStreamApi {
 public:
  std::vector<std::string> calls;
  std::set<std::u16string> refused;
  std::u16string text = u"\u5F20\u4E09";  // 张三
  bool creatable = true;
  std::unique_ptr<AdoStream> CreateStream() override {
    calls.push_back("Create");
    if (!creatable) return nullptr;
    return std::make_unique<FakeStream>(calls, refused, text);
  }
};

class WebRequestFake : public ::testing::Test {
 protected:
  FakeWinHttp fake;
  FakeStreams streams;
  CountingPump pump;
  CountingCom com;
  ScopedWinHttpApi scopedHttp{fake};
  ScopedAdoStreamApi scopedStreams{streams};
  ScopedMessagePump scopedPump{pump};
  ScopedComApi scopedCom{com};

  // Out variables that start with sentinels, so a test sees which ones were written.
  Text cookiesOut = "co-sentinel", responseHeaders = "rh-sentinel", location = "loc-sentinel",
       status = "st-sentinel";
  ByteArray responseBytes = {'s'};
  WebRequestOptions Outs() {
    WebRequestOptions o;
    o.cookiesOut = &cookiesOut;
    o.responseHeaders = &responseHeaders;
    o.location = &location;
    o.status = &status;
    o.responseBytes = &responseBytes;
    return o;
  }
  void ExpectOutsUntouched() {
    EXPECT_EQ(cookiesOut, "co-sentinel");
    EXPECT_EQ(responseHeaders, "rh-sentinel");
    EXPECT_EQ(location, "loc-sentinel");
    EXPECT_EQ(responseBytes, ByteArray{'s'});
  }
};

TEST_F(WebRequestFake, TheQueryCallMakesExactlyTheseCalls) {
  WebRequestOptions o = Outs();
  o.method = 1;
  o.body = "nick=a&B1=%B2%E9";
  Text page = WebRequest("http://sales.example/yeji/", o);
  EXPECT_EQ(page, "hello");
  const std::string headers =
      kDefaultLines + "Content-Type: application/x-www-form-urlencoded\r\nCache-Control: no-cache\r\n";
  const std::vector<std::string> expected = {
      "CheckPlatform",
      "CrackUrl(\"http://sales.example/yeji/\",26,0,lengths 4294967295 4294967295 0 0 4294967295 4294967295)",
      "Open(null,1,null,null,0)",
      "Connect(session,\"sales.example\",80,0)",
      "OpenRequest(connect,\"POST\",\"/yeji/\",null,null,null,0)",
      "SetTimeouts(request,30000,30000,30000,30000)",
      "SetOption(request,63,1,4)",
      "AddRequestHeaders(request,\"" + headers + "\"," + std::to_string(headers.size()) + "," +
          std::to_string(0x20000000u | 0x80000000u) + ")",
      "SendRequest(request,null,0,\"nick=a&B1=%B2%E9\",16,16,0)",
      "ReceiveResponse(request,null)",
      "QueryDataAvailable(request)",
      "ReadData(request,5)",
      "QueryDataAvailable(request)",
      "QueryHeaders(request,22,null,null,0,0)",
      "QueryHeaders(request,22,null,buffer," + std::to_string((fake.headerBlock.size() + 1) * 2) + ",0)",
      "CloseHandle(request)",
      "CloseHandle(connect)",
      "CloseHandle(session)",
  };
  EXPECT_EQ(fake.calls, expected);
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(responseHeaders, fake.headerBlock);
  EXPECT_EQ(responseBytes, (ByteArray{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(cookiesOut, "");
  EXPECT_EQ(location, "loc-sentinel");  // no Location line
  // Three header lines, then the charset step, then the end.
  EXPECT_EQ(pump.dispatched, 3 + 1 + 1);
  EXPECT_EQ(com.initialized, 2);  // the call's RegexObject and the charset step
  EXPECT_EQ(com.uninitialized, 2);
}

struct FailureCase {
  const char* failing;
  int occurrence;
  std::u16string text;
  std::vector<std::string> closed;
  bool dispatches;
  bool withCredentials;
  bool cookiesGiven;
};

TEST_F(WebRequestFake, EachFailureHasItsTextClosesWhatWasOpenedAndKeepsTheOtherOuts) {
  const std::vector<std::string> none = {"CloseHandle(null)", "CloseHandle(null)", "CloseHandle(null)"};
  const std::vector<std::string> session = {"CloseHandle(null)", "CloseHandle(null)", "CloseHandle(session)"};
  const std::vector<std::string> connect = {"CloseHandle(null)", "CloseHandle(connect)", "CloseHandle(session)"};
  const std::vector<std::string> all = {"CloseHandle(request)", "CloseHandle(connect)", "CloseHandle(session)"};
  const FailureCase cases[] = {
      {"CheckPlatform", 1, u"700 当前系统不支持WinHttp服务!", none, false, false, false},
      {"CrackUrl", 1, u"701 解析URL地址失败!", none, true, false, false},
      {"Open", 1, u"702 创建WinHttp会话失败!", none, true, false, false},
      {"Connect", 1, u"703 创建WinHttp连接失败!", session, true, false, false},
      {"OpenRequest", 1, u"704 创建WinHttp请求失败!", connect, true, false, false},
      {"SetTimeouts", 1, u"705 设置超时时间失败!", all, true, false, false},
      {"SetCredentials", 1, u"707 设置代理凭证失败!", all, false, true, false},  // server's
      {"SetCredentials", 2, u"707 设置代理凭证失败!", all, false, true, false},  // proxy's
      {"SetOption", 1, u"708 禁止自动设置Cookies失败!", all, false, false, false},
      {"SetOption", 1, u"708 禁止自动设置Cookies失败!", all, false, false, true},
      {"SetOption", 2, u"709 重定向设置失败!", all, false, false, false},
      {"AddRequestHeaders", 1, u"710 设置协议头失败!", all, true, false, false},
      {"SendRequest", 1, u"711 发送请求失败!", all, true, false, false},
      {"ReceiveResponse", 1, u"712 服务器未响应!", all, true, false, false},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(std::string(c.failing) + " #" + std::to_string(c.occurrence));
    FakeWinHttp local;
    local.failOn[c.failing] = c.occurrence;
    ScopedWinHttpApi scoped(local);
    pump.dispatched = 0;
    com.initialized = com.uninitialized = 0;
    WebRequestOptions o = Outs();
    o.noRedirect = true;
    Text cookies = "k=v";
    if (c.cookiesGiven) o.cookies = &cookies;
    if (c.withCredentials) {
      o.user = "u";
      o.password = "p";
      o.proxy = "proxy:8080";
      o.proxyUser = "pu";
      o.proxyPassword = "pp";
    }
    EXPECT_EQ(WebRequest("http://h/x", o), "");
    EXPECT_EQ(status, Gbk(c.text));
    ExpectOutsUntouched();
    EXPECT_EQ(cookies, "k=v");
    std::vector<std::string> tail(local.calls.end() - 3, local.calls.end());
    EXPECT_EQ(tail, c.closed);
    EXPECT_EQ(pump.dispatched, c.dispatches ? 1 : 0);
    EXPECT_EQ(com.initialized, 1);
    EXPECT_EQ(com.uninitialized, 1);
    EXPECT_TRUE(local.Calls("SendRequest").empty() || std::string(c.failing) == "SendRequest" ||
                std::string(c.failing) == "ReceiveResponse");
  }
}

TEST_F(WebRequestFake, ReadFailureIsOverwrittenByTheStatusWhenHeadersCanBeRead) {
  fake.bodyChunks = {"first-", "second"};
  fake.readFailsAt = 2;  // gives "sec" then fails
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://h/", o), "first-sec");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(std::string(responseBytes.begin(), responseBytes.end()), "first-sec");
  EXPECT_TRUE(fake.Calls("QueryDataAvailable").size() == 2);  // the loop ends at the failure
}

TEST_F(WebRequestFake, ReadFailureStandsWhenHeadersCannotBeRead) {
  fake.readFailsAt = 1;
  fake.secondHeaderQueryFails = true;
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://h/", o), "");
  EXPECT_EQ(status, Gbk(u"713 读取数据失败!"));
  ExpectOutsUntouched();
  EXPECT_EQ(pump.dispatched, 1);  // only the final one
}

TEST_F(WebRequestFake, FailingHeaderQueryReturnsEmptyWithoutAFailureText) {
  fake.secondHeaderQueryFails = true;
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://h/", o), "");
  EXPECT_EQ(status, "st-sentinel");
  ExpectOutsUntouched();
  EXPECT_EQ(fake.calls.back(), "CloseHandle(session)");
}

TEST_F(WebRequestFake, QueryDataAvailableFailureEndsTheBodyQuietly) {
  fake.failOn["QueryDataAvailable"] = 1;
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://h/", o), "");
  EXPECT_EQ(status, "200 OK");
  EXPECT_TRUE(responseBytes.empty());
}

struct TargetCase {
  std::string url;
  std::string proxy;
  int timeoutSeconds;
  std::string connect, openRequest, open, timeouts;
};

TEST_F(WebRequestFake, TargetProxyAndTimeouts) {
  const TargetCase cases[] = {
      {"http://h", "", 0, "Connect(session,\"h\",80,0)",
       "OpenRequest(connect,\"GET\",\"/\",null,null,null,0)", "Open(null,1,null,null,0)",
       "SetTimeouts(request,30000,30000,30000,30000)"},
      {"http://h:8080/p/q?x=1&y=2", "p:3128", -5, "Connect(session,\"h\",8080,0)",
       "OpenRequest(connect,\"GET\",\"/p/q?x=1&y=2\",null,null,null,0)",
       "Open(null,3,\"http=p:3128\",null,0)", "SetTimeouts(request,30000,30000,30000,30000)"},
      {"HTTPS://secure.example/s", "p:3128", 5, "Connect(session,\"secure.example\",443,0)",
       "OpenRequest(connect,\"GET\",\"/s\",null,null,null,8388608)", "Open(null,3,\"p:3128\",null,0)",
       "SetTimeouts(request,5000,5000,5000,5000)"},
      // The query survives an empty path; seconds past 32-bit milliseconds are held.
      {"http://h?q=1", "", 3000000, "Connect(session,\"h\",80,0)",
       "OpenRequest(connect,\"GET\",\"/?q=1\",null,null,null,0)", "Open(null,1,null,null,0)",
       "SetTimeouts(request,2147483647,2147483647,2147483647,2147483647)"},
      {"http://\xD5\xC5.example/\xC8\xFD", "", 1, "Connect(session,\"张.example\",80,0)",
       "OpenRequest(connect,\"GET\",\"/三\",null,null,null,0)", "Open(null,1,null,null,0)",
       "SetTimeouts(request,1000,1000,1000,1000)"},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.url);
    FakeWinHttp local;
    ScopedWinHttpApi scoped(local);
    WebRequestOptions o;
    o.proxy = c.proxy;
    o.timeoutSeconds = c.timeoutSeconds;
    WebRequest(c.url, o);
    EXPECT_EQ(local.Calls("Open(").at(0), c.open);
    EXPECT_EQ(local.Calls("Connect(").at(0), c.connect);
    EXPECT_EQ(local.Calls("OpenRequest(").at(0), c.openRequest);
    EXPECT_EQ(local.Calls("SetTimeouts(").at(0), c.timeouts);
  }
}

TEST_F(WebRequestFake, MethodsOutOfRangeSendGet) {
  for (int method : {8, -1}) {
    FakeWinHttp local;
    ScopedWinHttpApi scoped(local);
    WebRequestOptions o;
    o.method = method;
    WebRequest("http://h/", o);
    EXPECT_EQ(local.Calls("OpenRequest(").at(0), "OpenRequest(connect,\"GET\",\"/\",null,null,null,0)");
  }
}

TEST_F(WebRequestFake, CredentialsOnlyInPairs) {
  struct Case {
    std::string user, password, proxyUser, proxyPassword;
    std::vector<std::string> expected;
  } cases[] = {
      {"u", "", "", "pp", {}},
      {"u", "p", "", "", {"SetCredentials(request,0,1,\"u\",\"p\",null)"}},
      {"", "", "pu", "pp", {"SetCredentials(request,1,1,\"pu\",\"pp\",null)"}},
      {"u", "p", "pu", "pp",
       {"SetCredentials(request,0,1,\"u\",\"p\",null)", "SetCredentials(request,1,1,\"pu\",\"pp\",null)"}},
  };
  for (const Case& c : cases) {
    FakeWinHttp local;
    ScopedWinHttpApi scoped(local);
    WebRequestOptions o;
    o.user = c.user;
    o.password = c.password;
    o.proxyUser = c.proxyUser;
    o.proxyPassword = c.proxyPassword;
    WebRequest("http://h/", o);
    EXPECT_EQ(local.Calls("SetCredentials"), c.expected);
  }
}

TEST_F(WebRequestFake, CookieOptionsHeaderLineAndMerging) {
  fake.headerBlock =
      "HTTP/1.1 302 Found\r\nset-cookie: a=2; path=/\r\nSET-COOKIE: c=3\r\n"
      "Location: /first\r\nlocation: /second\r\n\r\n";
  // Omitted: cookie handling off, no merging.
  {
    FakeWinHttp local;
    local.headerBlock = fake.headerBlock;
    ScopedWinHttpApi scoped(local);
    WebRequestOptions o = Outs();
    WebRequest("http://h/", o);
    EXPECT_EQ(local.Calls("SetOption"), std::vector<std::string>{"SetOption(request,63,1,4)"});
    EXPECT_EQ(cookiesOut, "a=2; c=3");
    EXPECT_EQ(location, "/second");
    EXPECT_EQ(responseHeaders,
              "HTTP/1.1 302 Found\r\nSet-Cookie: a=2; path=/\r\nSet-Cookie: c=3\r\n"
              "Location: /first\r\nlocation: /second\r\n\r\n");
  }
  // Given empty: option 79, no Cookie line, merged into the caller's variable.
  {
    FakeWinHttp local;
    local.headerBlock = fake.headerBlock;
    ScopedWinHttpApi scoped(local);
    Text cookies;
    WebRequestOptions o = Outs();
    o.cookies = &cookies;
    o.noRedirect = true;
    WebRequest("http://h/", o);
    EXPECT_EQ(local.Calls("SetOption"),
              (std::vector<std::string>{"SetOption(request,79,1,4)", "SetOption(request,63,2,4)"}));
    EXPECT_EQ(local.Calls("AddRequestHeaders").at(0).find("Cookie: "), std::string::npos);
    EXPECT_EQ(cookies, "a=2; c=3");
    EXPECT_EQ(cookiesOut, "a=2; c=3");
  }
  // Given: sent as a line and merged; without autoMergeCookies left alone.
  for (bool merge : {true, false}) {
    FakeWinHttp local;
    local.headerBlock = fake.headerBlock;
    ScopedWinHttpApi scoped(local);
    Text cookies = "a=1; b=1";
    WebRequestOptions o = Outs();
    o.cookies = &cookies;
    o.autoMergeCookies = merge;
    WebRequest("http://h/", o);
    EXPECT_NE(local.Calls("AddRequestHeaders").at(0).find("Cookie: a=1; b=1\r\n"), std::string::npos);
    EXPECT_EQ(cookies, merge ? "a=2; c=3; b=1" : "a=1; b=1");
    EXPECT_EQ(cookiesOut, merge ? "a=2; c=3; b=1" : "a=2; c=3");
  }
}

TEST_F(WebRequestFake, StatusLineAndZeroBytes) {
  fake.headerBlock = "HTTP/1.1 404 Not Found\r\n\r\n";
  fake.bodyChunks = {std::string("ab\0cd", 5)};
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://h/", o), "ab");
  EXPECT_EQ(status, "404 Not Found");
  EXPECT_EQ(responseBytes.size(), 5u);

  FakeWinHttp shortBlock;
  shortBlock.headerBlock = "HTTP/1.1";  // no line end after position 10
  ScopedWinHttpApi scoped(shortBlock);
  WebRequest("http://h/", o);
  EXPECT_EQ(status, "");
}

TEST_F(WebRequestFake, CharsetStepDecodesThroughTheStream) {
  const std::string head = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=";
  fake.bodyChunks = {head + "utf-8\">", std::string("\0tail", 5)};
  WebRequestOptions o = Outs();
  EXPECT_EQ(Utf8(WebRequest("http://h/", o)), "张三");
  const std::vector<std::string> expected = {
      "Create", "Type=1", "Mode=3", "Open",
      "Write " + head + "utf-8\">" + std::string("\0tail", 5),
      "Position=0", "Type=2", "Charset=utf-8", "ReadText", "Close"};
  EXPECT_EQ(streams.calls, expected);
}

TEST_F(WebRequestFake, CharsetCases) {
  struct Case {
    const char* name;
    std::string page;
    bool decoded;
  } cases[] = {
      {"gbk is raw", "<meta charset=gbk>", false},
      {"gb2312 is raw", "<meta charset=\"gb2312\">", false},
      {"GBK in capitals goes through the stream", "<META CHARSET=GBK>", true},
      {"meta past 1024 bytes is not seen", std::string(1020, ' ') + "<meta charset=utf-8>", false},
      {"no meta at all", "<html>plain</html>", false},
      {"refused name keeps the raw text", "<meta charset=nonsense>", false},
  };
  streams.refused = {u"nonsense"};
  for (const Case& c : cases) {
    FakeWinHttp local;
    local.bodyChunks = {c.page};
    local.headerBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
    ScopedWinHttpApi scoped(local);
    EXPECT_EQ(WebRequest("http://h/"), c.decoded ? Gbk(u"张三") : c.page) << c.name;
  }
  streams.creatable = false;
  FakeWinHttp local;
  local.bodyChunks = {"<meta charset=utf-8>"};
  ScopedWinHttpApi scoped(local);
  EXPECT_EQ(WebRequest("http://h/"), "<meta charset=utf-8>");
}

// A message dispatched during a request may start another one; each keeps its own state.
TEST_F(WebRequestFake, ReentrantCallsDoNotDisturbEachOther) {
  class ReentrantPump final : public MessagePump {
   public:
    int depth = 0;
    Text innerStatus, innerPage;
    void DispatchPending() override {
      if (depth++ > 0) return;
      FakeWinHttp inner;
      inner.bodyChunks = {"inner"};
      ScopedWinHttpApi scoped(inner);
      WebRequestOptions o;
      o.status = &innerStatus;
      innerPage = WebRequest("http://inner/", o);
    }
  } reentrant;
  ScopedMessagePump scoped(reentrant);
  fake.bodyChunks = {"outer"};
  WebRequestOptions o = Outs();
  EXPECT_EQ(WebRequest("http://outer/", o), "outer");
  EXPECT_EQ(reentrant.innerPage, "inner");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(reentrant.innerStatus, "200 OK");
}

}  // namespace
}  // namespace sellmeter
