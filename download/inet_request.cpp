#include "download/inet_request.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "download/url_split.h"
#include "download/wininet_api.h"
#include "http/cookies.h"
#include "http/method_table.h"
#include "http/text_between.h"
#include "text/gbk_text.h"

namespace sellmeter {

namespace {

constexpr std::string_view kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr std::size_t kReadPiece = 1024;
constexpr std::size_t kHeaderBufferSize = 5000;

bool Contains(std::string_view text, std::string_view what) { return FindText(text, what) != 0; }

// The URL as the Referer value. A picture URL comes from a page we do not control; a line end
// in it would turn the rest of the URL into header lines of its own, so control bytes are
// percent-encoded here and nowhere else.
Text RefererValue(std::string_view url) {
  static const char kHex[] = "0123456789ABCDEF";
  Text out;
  out.reserve(url.size());
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// The agent for the root handle: the caller's User-Agent value when the block has one.
Text AgentText(const Text& headers) {
  if (FindText(headers, "User-Agent:", 1, true) == 0) return Text(kDefaultAgent);
  Text agent = TrimBlanks(TextBetween(headers + "\r\n", "User-Agent:", "\r\n"));
  if (agent.empty()) {
    // The exact-case markers miss a line spelled "user-agent:"; everything after the block's
    // first colon stands in for it.
    const std::size_t colon = FindText(headers, ":");
    agent = TrimBlanks(std::string_view(headers).substr(colon));
  }
  return agent;
}

void ComposeInetHeaders(Text& block, std::string_view url, int method, const Text* cookies) {
  if (block.empty()) {
    block = "Accept: */*";
  } else if (!Contains(block, "Accept:")) {
    block += "\r\nAccept: */*";
  }
  if (!Contains(block, "Referer:")) {
    block += "\r\nReferer: ";
    block += RefererValue(url);
  }
  if (!Contains(block, "Accept-Language:")) block += "\r\nAccept-Language: zh-cn";
  if (method == 1 && !Contains(block, "Content-Type:")) {
    block += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  if (cookies != nullptr && !cookies->empty()) {
    block += Contains(*cookies, "Cookie:") ? "\r\n" : "\r\nCookie: ";
    block += *cookies;
  }
}

}  // namespace

ByteArray InetRequest(std::string_view url, const InetRequestOptions& options) {
  WinInetApi& inet = WinInet();
  const int method = (options.method < 0 || options.method > 7) ? 0 : options.method;
  const Text verb(MethodName(method));
  const bool https = AsciiLower(url.substr(0, 8)) == "https://";

  const Text noHeaders;
  const Text& callerHeaders = options.extraHeaders != nullptr ? *options.extraHeaders : noHeaders;
  const Text agent = AgentText(callerHeaders);

  Text proxyName;
  std::uint32_t access = kInternetOpenTypeDirect;
  if (!options.proxy.empty()) {
    access = kInternetOpenTypeProxy;
    proxyName = https ? options.proxy : "http=" + options.proxy;
  }
  InetHandle root = inet.InternetOpenA(agent.c_str(), access, proxyName.c_str(), "", 0);
  if (root == nullptr) return {};

  const Text host = HostFromUrl(url);
  // WinInet's port parameter is 16 bits wide; the number is narrowed as a C call would.
  const auto port = static_cast<std::uint16_t>(PortFromUrl(url));
  InetHandle connection =
      inet.InternetConnectA(root, host.c_str(), port, "", "", kInternetServiceHttp, 0, 0);
  if (connection == nullptr) {
    inet.InternetCloseHandle(root);
    return {};
  }

  std::uint32_t flags = kInternetFlagReload | kInternetFlagNeedFile;
  if (options.cookies != nullptr) flags |= kInternetFlagNoCookies;
  if (options.noRedirect) flags |= kInternetFlagNoAutoRedirect;
  flags |= https ? kInternetFlagSecure : kInternetFlagIgnoreRedirectToHttps;

  const Text path = PathFromUrl(url);
  InetHandle request = inet.HttpOpenRequestA(connection, verb.c_str(), path.c_str(), "HTTP/1.1", "",
                                             nullptr, flags, 0);
  if (request == nullptr) {
    inet.InternetCloseHandle(connection);
    inet.InternetCloseHandle(root);
    return {};
  }

  // From here on the caller's variables are written; omitted ones are stood in for by locals.
  Text localHeaders;
  Text& block = options.extraHeaders != nullptr ? *options.extraHeaders : localHeaders;
  ComposeInetHeaders(block, url, method, options.cookies);

  if (method == 0) {
    inet.HttpSendRequestA(request, block.c_str(), static_cast<std::uint32_t>(block.size()), "", 0);
  } else {
    ByteArray localBytes;
    ByteArray& bytes = options.bodyBytes != nullptr ? *options.bodyBytes : localBytes;
    if (bytes.empty()) bytes.assign(options.body.begin(), options.body.end());
    inet.HttpSendRequestA(request, block.c_str(), static_cast<std::uint32_t>(block.size()),
                          bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }

  ByteArray body;
  std::array<std::uint8_t, kReadPiece> piece{};
  for (;;) {
    std::uint32_t read = 0;
    if (!inet.InternetReadFile(request, piece.data(), kReadPiece, &read)) break;
    if (read == 0) break;
    if (read > kReadPiece) read = kReadPiece;
    body.insert(body.end(), piece.begin(), piece.begin() + read);
  }

  // A text of 5000 blanks as the buffer; whatever the query leaves in it, read as a
  // zero-terminated text, is the header block. A query that fails leaves the blanks.
  std::array<char, kHeaderBufferSize + 1> buffer;
  std::memset(buffer.data(), ' ', kHeaderBufferSize);
  buffer[kHeaderBufferSize] = '\0';
  std::uint32_t bufferLength = kHeaderBufferSize;
  inet.HttpQueryInfoA(request, kHttpQueryRawHeadersCrlf, buffer.data(), &bufferLength, nullptr);
  Text localResponse;
  Text& responseHeaders =
      options.responseHeaders != nullptr ? *options.responseHeaders : localResponse;
  responseHeaders.assign(buffer.data(), strnlen(buffer.data(), kHeaderBufferSize));

  inet.InternetCloseHandle(request);
  inet.InternetCloseHandle(connection);
  inet.InternetCloseHandle(root);

  Text collected = CollectSetCookies(responseHeaders);
  if (options.autoMergeCookies && options.cookies != nullptr) {
    collected = MergeCookies(*options.cookies, collected);
  }
  if (options.cookiesOut != nullptr) *options.cookiesOut = collected;
  return body;
}

}  // namespace sellmeter
