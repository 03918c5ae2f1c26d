// The Linux layers on their own: WinHTTP's URL cracking, header modifiers, header queries and
// handles; the charset stream's names and rules.
#include <gtest/gtest.h>

#include <cstring>

#include "http/ado_stream_api.h"
#include "http/linux/winhttp_linux.h"
#include "http/winhttp_api.h"
#include "loopback_server.h"
#include "text/codepage.h"

namespace sellmeter {
namespace {

constexpr std::uint32_t kAsk = 0xFFFFFFFF;

std::string Utf8(const char16_t* text, std::uint32_t length) {
  return text == nullptr ? "<null>" : U16ToText(std::u16string_view(text, length), kCpUtf8);
}

struct CrackCase {
  std::u16string url;
  bool ok;
  std::uint32_t scheme = 0;
  std::string host = {};
  std::uint16_t port = 0;
  std::string path = {}, extra = {}, user = {};
};

TEST(LinuxWinHttp, CracksUrlsAsWinHttpDoes) {
  const CrackCase cases[] = {
      {u"http://example.com", true, 1, "example.com", 80, "<null>", "<null>", "<null>"},
      {u"HTTPS://Example.com/a/b?x=1#f", true, 2, "Example.com", 443, "/a/b", "?x=1#f", "<null>"},
      {u"http://u:p@h:8080/p", true, 1, "h", 8080, "/p", "<null>", "u"},
      {u"http://h?q", true, 1, "h", 80, "<null>", "?q", "<null>"},
      {u"http://[::1]:81/", true, 1, "[::1]", 81, "/", "<null>", "<null>"},
      {u"http://张.cn/三", true, 1, "张.cn", 80, "/三", "<null>", "<null>"},
      {u"", false},
      {u"example.com/x", false},
      {u"ftp://h/", false},
      {u"http:/h/", false},
      {u"http://", false},
      {u"http://:8080/", false},
      {u"http://h:/", false},
      {u"http://h:0/", false},
      {u"http://h:65536/", false},
      {u"http://h:8a/", false},
      {u"http://a b/", false},
      {u"http://[::1/", false},
  };
  WinHttpApi& api = PlatformWinHttpApi();
  for (const CrackCase& c : cases) {
    SCOPED_TRACE(U16ToText(c.url, kCpUtf8));
    UrlComponents parts;
    parts.schemeLength = parts.hostNameLength = parts.urlPathLength = parts.extraInfoLength = kAsk;
    parts.userNameLength = kAsk;
    const bool ok = api.WinHttpCrackUrl(c.url.c_str(), static_cast<std::uint32_t>(c.url.size()), 0, &parts);
    ASSERT_EQ(ok, c.ok);
    if (!ok) continue;
    EXPECT_EQ(parts.schemeNumber, c.scheme);
    EXPECT_EQ(Utf8(parts.hostName, parts.hostNameLength), c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(Utf8(parts.urlPath, parts.urlPathLength), c.path);
    EXPECT_EQ(Utf8(parts.extraInfo, parts.extraInfoLength), c.extra);
    EXPECT_EQ(Utf8(parts.userName, parts.userNameLength), c.user);
    // Components point into the caller's URL.
    EXPECT_GE(parts.hostName, c.url.c_str());
    EXPECT_LT(parts.hostName, c.url.c_str() + c.url.size());
  }
  // Caller buffers: filled with a terminator, or refused when too small.
  char16_t host[4];
  UrlComponents parts;
  parts.hostName = host;
  parts.hostNameLength = 4;
  EXPECT_TRUE(api.WinHttpCrackUrl(u"http://abc/", 0, 0, &parts));
  EXPECT_EQ(std::u16string(host), u"abc");
  EXPECT_EQ(parts.hostNameLength, 3u);
  parts.hostNameLength = 3;
  EXPECT_FALSE(api.WinHttpCrackUrl(u"http://abc/", 0, 0, &parts));
  EXPECT_EQ(WinHttpLastError(), kErrorInsufficientBuffer);
}

// One request against a loopback server through the raw interface.
class RawRequest {
 public:
  explicit RawRequest(int port, const char16_t* verb = u"GET") {
    session_ = api_.WinHttpOpen(u"agent/1", kWinHttpAccessTypeNoProxy, nullptr, nullptr, 0);
    connect_ = api_.WinHttpConnect(session_, u"127.0.0.1", static_cast<std::uint16_t>(port), 0);
    request_ = api_.WinHttpOpenRequest(connect_, verb, u"/a b", nullptr, nullptr, nullptr, 0);
  }
  ~RawRequest() {
    api_.WinHttpCloseHandle(request_);
    api_.WinHttpCloseHandle(connect_);
    api_.WinHttpCloseHandle(session_);
  }
  WinHttpApi& api_ = PlatformWinHttpApi();
  HInternet session_, connect_, request_;
};

TEST(LinuxWinHttp, HeaderModifiersAndTheWire) {
  testing::LoopbackServer server([](const testing::RecordedRequest&) {
    return testing::Respond("200 OK", "X-Reply: 1\n", "body");
  });
  RawRequest raw(server.port());
  WinHttpApi& api = raw.api_;
  const std::uint32_t addReplace = kWinHttpAddreqFlagAdd | kWinHttpAddreqFlagReplace;
  EXPECT_TRUE(api.WinHttpAddRequestHeaders(raw.request_, u"A: 1\r\nB: 2\r\n\r\nC: 3", kAsk, addReplace));
  EXPECT_TRUE(api.WinHttpAddRequestHeaders(raw.request_, u"b: two", kAsk, addReplace));  // replaced in place
  EXPECT_TRUE(api.WinHttpAddRequestHeaders(raw.request_, u"C:", kAsk, addReplace));      // removed
  EXPECT_TRUE(api.WinHttpAddRequestHeaders(raw.request_, u"D: 4", kAsk, kWinHttpAddreqFlagReplace));  // not added
  EXPECT_FALSE(api.WinHttpAddRequestHeaders(raw.request_, u"A: again", kAsk, kWinHttpAddreqFlagAddIfNew));
  EXPECT_FALSE(api.WinHttpAddRequestHeaders(raw.request_, u"no colon here", kAsk, addReplace));
  EXPECT_EQ(WinHttpLastError(), kErrorWinHttpInvalidHeader);
  EXPECT_FALSE(api.WinHttpAddRequestHeaders(raw.request_, u"Bad Name: x", kAsk, addReplace));
  // A line feed alone also ends a line, so a value cannot smuggle in another header.
  EXPECT_TRUE(api.WinHttpAddRequestHeaders(raw.request_, u"E: 5\nF: 6", kAsk, addReplace));

  std::uint32_t available = 0;
  EXPECT_FALSE(api.WinHttpQueryDataAvailable(raw.request_, &available));  // nothing sent yet
  EXPECT_EQ(WinHttpLastError(), kErrorWinHttpIncorrectHandleState);
  ASSERT_TRUE(api.WinHttpSendRequest(raw.request_, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(api.WinHttpReceiveResponse(raw.request_, nullptr));

  const testing::RecordedRequest wire = server.Requests().at(0);
  EXPECT_EQ(wire.requestLine, "GET /a%20b HTTP/1.1");
  const std::vector<std::string> lines = {"Host: 127.0.0.1:" + std::to_string(server.port()),
                                          "User-Agent: agent/1", "A: 1", "b: two", "E: 5", "F: 6",
                                          "Connection: Keep-Alive"};
  EXPECT_EQ(wire.headerLines, lines);

  // The size query, then the block with its terminator; too small a buffer is refused.
  std::uint32_t size = 0, index = 0;
  EXPECT_FALSE(api.WinHttpQueryHeaders(raw.request_, kWinHttpQueryRawHeadersCrlf, nullptr, nullptr, &size, &index));
  EXPECT_EQ(WinHttpLastError(), kErrorInsufficientBuffer);
  const std::u16string expected = u"HTTP/1.1 200 OK\r\nX-Reply: 1\r\nContent-Length: 4\r\n\r\n";
  EXPECT_EQ(size, (expected.size() + 1) * 2);
  std::u16string block(size / 2, u'?');
  std::uint32_t shortSize = size - 2;
  EXPECT_FALSE(api.WinHttpQueryHeaders(raw.request_, kWinHttpQueryRawHeadersCrlf, nullptr, block.data(), &shortSize, &index));
  EXPECT_TRUE(api.WinHttpQueryHeaders(raw.request_, kWinHttpQueryRawHeadersCrlf, nullptr, block.data(), &size, &index));
  EXPECT_EQ(size, expected.size() * 2);
  EXPECT_EQ(block, expected + u'\0');

  ASSERT_TRUE(api.WinHttpQueryDataAvailable(raw.request_, &available));
  EXPECT_EQ(available, 4u);
  char buffer[8] = {};
  std::uint32_t read = 0;
  EXPECT_TRUE(api.WinHttpReadData(raw.request_, buffer, 3, &read));
  EXPECT_EQ(std::string(buffer, read), "bod");
  EXPECT_TRUE(api.WinHttpReadData(raw.request_, buffer, 8, &read));
  EXPECT_EQ(std::string(buffer, read), "y");
  EXPECT_TRUE(api.WinHttpQueryDataAvailable(raw.request_, &available));
  EXPECT_EQ(available, 0u);
  EXPECT_FALSE(api.WinHttpSendRequest(raw.request_, nullptr, 0, nullptr, 0, 0, 0));  // only once
}

TEST(LinuxWinHttp, HandlesOptionsAndArguments) {
  WinHttpApi& api = PlatformWinHttpApi();
  EXPECT_TRUE(api.WinHttpCheckPlatform());
  EXPECT_EQ(api.WinHttpOpen(nullptr, kWinHttpAccessTypeNamedProxy, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(api.WinHttpOpen(nullptr, 7, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(api.WinHttpOpen(nullptr, 1, nullptr, nullptr, 0x10000000), nullptr);  // no async
  HInternet session = api.WinHttpOpen(nullptr, kWinHttpAccessTypeNoProxy, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(api.WinHttpConnect(session, u"", 80, 0), nullptr);
  EXPECT_EQ(api.WinHttpOpenRequest(session, u"GET", u"/", nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(WinHttpLastError(), kErrorWinHttpIncorrectHandleType);
  HInternet connect = api.WinHttpConnect(session, u"h", 80, 0);
  HInternet request = api.WinHttpOpenRequest(connect, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  std::uint32_t value = kWinHttpDisableCookies;
  EXPECT_TRUE(api.WinHttpSetOption(request, kWinHttpOptionDisableFeature, &value, 4));
  value = kWinHttpEnableSslRevocation;
  EXPECT_TRUE(api.WinHttpSetOption(request, kWinHttpOptionEnableFeature, &value, 4));
  EXPECT_FALSE(api.WinHttpSetOption(request, kWinHttpOptionEnableFeature, &value, 2));
  EXPECT_FALSE(api.WinHttpSetOption(request, 12345, &value, 4));
  EXPECT_FALSE(api.WinHttpSetOption(session, kWinHttpOptionDisableFeature, &value, 4));
  EXPECT_TRUE(api.WinHttpSetTimeouts(request, -1, 0, 5, 5));
  EXPECT_FALSE(api.WinHttpSetTimeouts(request, -2, 0, 5, 5));
  EXPECT_TRUE(api.WinHttpSetCredentials(request, 0, 1, u"u", u"p", nullptr));
  EXPECT_FALSE(api.WinHttpSetCredentials(request, 0, 2, u"u", u"p", nullptr));  // basic only
  EXPECT_FALSE(api.WinHttpSetCredentials(request, 5, 1, u"u", u"p", nullptr));
  EXPECT_TRUE(api.WinHttpCloseHandle(request));
  EXPECT_FALSE(api.WinHttpCloseHandle(request));  // already closed
  EXPECT_FALSE(api.WinHttpCloseHandle(nullptr));
  EXPECT_TRUE(api.WinHttpCloseHandle(session));  // before its connection, as WinHTTP allows
  EXPECT_TRUE(api.WinHttpCloseHandle(connect));
}

TEST(LinuxWinHttp, ProxyListsPickTheEntryForTheScheme) {
  testing::LoopbackServer proxy([](const testing::RecordedRequest& r) {
    return testing::Respond("200 OK", "", "proxied " + r.requestLine);
  });
  testing::LoopbackServer direct([](const testing::RecordedRequest&) {
    return testing::Respond("200 OK", "", "direct");
  });
  const std::string at = "127.0.0.1:" + std::to_string(proxy.port());
  struct Case {
    std::string list;
    bool viaProxy;
  } cases[] = {{"http=" + at, true}, {at, true}, {"https=" + at, false},
               {"https=127.0.0.1:1; http=http://" + at, true}};
  WinHttpApi& api = PlatformWinHttpApi();
  for (const Case& c : cases) {
    const std::u16string list = TextToU16(c.list, kCpGbk);
    HInternet session = api.WinHttpOpen(nullptr, kWinHttpAccessTypeNamedProxy, list.c_str(), nullptr, 0);
    HInternet connect = api.WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(direct.port()), 0);
    HInternet request = api.WinHttpOpenRequest(connect, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(api.WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0)) << c.list;
    ASSERT_TRUE(api.WinHttpReceiveResponse(request, nullptr));
    char buffer[256] = {};
    std::uint32_t read = 0;
    api.WinHttpReadData(request, buffer, sizeof buffer, &read);
    const std::string body(buffer, read);
    EXPECT_EQ(body, c.viaProxy ? "proxied GET http://127.0.0.1:" + std::to_string(direct.port()) + "/ HTTP/1.1"
                               : "direct")
        << c.list;
    api.WinHttpCloseHandle(request);
    api.WinHttpCloseHandle(connect);
    api.WinHttpCloseHandle(session);
  }
}

// Decodes bytes through a fresh stream the way the charset step drives it.
bool Decode(const std::string& bytes, const std::u16string& charset, std::u16string& text) {
  std::unique_ptr<AdoStream> stream = PlatformAdoStreamApi().CreateStream();
  stream->SetType(kAdTypeBinary);
  stream->SetMode(kAdModeReadWrite);
  stream->Open();
  stream->Write(ByteArray(bytes.begin(), bytes.end()));
  stream->SetPosition(0);
  stream->SetType(kAdTypeText);
  const bool accepted = stream->SetCharset(charset);
  stream->ReadText(text);
  stream->Close();
  return accepted;
}

TEST(IcuAdoStream, CharsetNames) {
  struct Case {
    std::u16string charset;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {u"utf-8", "\xE4\xB8\xAD\xE6\x96\x87", u"中文"},
      {u"UTF-8", "\xEF\xBB\xBF" "a", u"a"},  // the mark at the start is dropped
      {u"gb2312", "\xD6\xD0\x81\x40", u"中丂"},  // read as code page 936, wider than GB2312
      {u"GBK", "\xD6\xD0", u"中"},
      {u"big5", "\xA4\xA4\xA4\xE5", u"中文"},
      {u"iso-8859-1", "\xE9\x80", u"é€"},  // Windows reads it as 1252
      {u"windows-1251", "\xC0\xE1", u"Аб"},
      {u"Shift_JIS", "\x82\xA0", u"あ"},
      {u"euc-kr", "\xB0\xA1", u"가"},
      {u"unicode", std::string("\xFF\xFE" "A\0", 4), u"A"},
      {u"unicodeFFFE", std::string("\0B", 2), u"B"},
      {u"koi8-r", "\xE1", u"А"},
  };
  for (const Case& c : cases) {
    std::u16string text;
    EXPECT_TRUE(Decode(c.bytes, c.charset, text)) << U16ToText(c.charset, kCpUtf8);
    EXPECT_EQ(text, c.text) << U16ToText(c.charset, kCpUtf8);
  }
}

TEST(IcuAdoStream, RefusedNamesKeepTheCharsetInForce) {
  for (const std::u16string name : {u"nonsense", u"", u"utf-8,version=1", u"x-no-such-set", u"_autodetect"}) {
    std::u16string text;
    EXPECT_FALSE(Decode(std::string("A\0B\0", 4), name, text)) << U16ToText(name, kCpUtf8);
    EXPECT_EQ(text, u"AB");  // still the default, Unicode
  }
}

TEST(IcuAdoStream, StreamRules) {
  std::unique_ptr<AdoStream> stream = PlatformAdoStreamApi().CreateStream();
  std::u16string text;
  EXPECT_FALSE(stream->ReadText(text));  // not open
  EXPECT_TRUE(stream->SetType(kAdTypeBinary));
  EXPECT_TRUE(stream->Open());
  EXPECT_FALSE(stream->SetMode(kAdModeReadWrite));  // only while closed
  EXPECT_TRUE(stream->Write(ByteArray{'a', 'b'}));
  EXPECT_TRUE(stream->Write(ByteArray{'c'}));
  EXPECT_FALSE(stream->SetType(kAdTypeText));        // Position is not 0
  EXPECT_FALSE(stream->SetCharset(u"utf-8"));
  EXPECT_FALSE(stream->SetPosition(4));
  EXPECT_TRUE(stream->SetPosition(1));
  EXPECT_TRUE(stream->Write(ByteArray{'X'}));
  EXPECT_TRUE(stream->SetPosition(0));
  EXPECT_FALSE(stream->ReadText(text));               // a binary stream has no text
  EXPECT_TRUE(stream->SetType(kAdTypeText));
  EXPECT_FALSE(stream->Write(ByteArray{'d'}));         // nor does a text stream take bytes
  EXPECT_TRUE(stream->SetCharset(u"us-ascii"));
  EXPECT_TRUE(stream->ReadText(text));
  EXPECT_EQ(text, u"aXc");
  EXPECT_TRUE(stream->Close());
  EXPECT_FALSE(stream->Close());
}

}  // namespace
}  // namespace sellmeter
