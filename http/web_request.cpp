#include "http/web_request.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "http/charset_step.h"
#include "http/compose_headers.h"
#include "http/method_table.h"
#include "http/winhttp_api.h"
#include "regex/regex_object.h"
#include "text/codepage.h"
#include "text/gbk_text.h"
#include "text/message_pump.h"

namespace sellmeter {
namespace {

constexpr std::uint32_t kAskForComponent = 0xFFFFFFFF;

// GBK text as the zero-terminated UTF-16 WinHTTP takes.
std::u16string Wide(std::string_view gbk) {
  ByteArray bytes = GbkToWide(gbk);
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  if (!units.empty() && units.back() == u'\0') units.pop_back();  // c_str() carries it
  return units;
}

ByteArray UnitsToBytes(const char16_t* units, std::size_t count) {
  ByteArray bytes(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return bytes;
}

Text FailureText(int code) {
  switch (code) {
    case 700: return "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
    case 701: return "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
    case 702: return "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
    case 703: return "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
    case 704: return "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
    case 705: return "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
    case 707: return "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
    case 708: return "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3" "Cookies\xCA\xA7\xB0\xDC!";
    case 709: return "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
    case 710: return "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
    case 711: return "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
    case 712: return "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
    case 713: return "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";
    default: return {};
  }
}

// The per-call state of one request; every value lives here so that a call re-entered from a
// message dispatch does not disturb the outer one.
class Call {
 public:
  Call(std::string_view url, const WebRequestOptions& options)
      : url_(url), options_(options), api_(WinHttp()) {}

  Text Run();

 private:
  Text Fail(int code) {
    if (options_.status != nullptr) *options_.status = FailureText(code);
    dispatchAtEnd_ = code != 700 && code != 707 && code != 708 && code != 709;
    return Finish();
  }
  Text Finish() {
    if (dispatchAtEnd_) Messages().DispatchPending();
    api_.WinHttpCloseHandle(request_);
    api_.WinHttpCloseHandle(connect_);
    api_.WinHttpCloseHandle(session_);
    return std::move(result_);
  }
  bool SetFeature(std::uint32_t option, std::uint32_t value) {
    return api_.WinHttpSetOption(request_, option, &value, sizeof value);
  }

  std::string_view url_;
  const WebRequestOptions& options_;
  WinHttpApi& api_;
  RegexObject regex_;  // the charset step's; created first, released last
  HInternet session_ = nullptr;
  HInternet connect_ = nullptr;
  HInternet request_ = nullptr;
  bool dispatchAtEnd_ = true;
  Text result_;
};

Text Call::Run() {
  if (!api_.WinHttpCheckPlatform()) return Fail(700);

  const std::u16string wideUrl = Wide(url_);
  UrlComponents parts;
  parts.structSize = sizeof parts;
  parts.schemeLength = kAskForComponent;
  parts.hostNameLength = kAskForComponent;
  parts.urlPathLength = kAskForComponent;
  parts.extraInfoLength = kAskForComponent;
  if (!api_.WinHttpCrackUrl(wideUrl.c_str(), static_cast<std::uint32_t>(wideUrl.size()), 0,
                            &parts))
    return Fail(701);

  const Text host = parts.hostName != nullptr
                        ? WideToGbk(UnitsToBytes(parts.hostName, parts.hostNameLength))
                        : Text();
  const std::uint16_t port = parts.port;
  const bool secure = parts.schemeNumber == kInternetSchemeHttps;
  std::u16string objectName;
  if (parts.urlPath != nullptr) objectName.assign(parts.urlPath, parts.urlPathLength);
  // An empty path is "/"; the query after it is kept.
  if (objectName.empty()) objectName = u"/";
  if (parts.extraInfo != nullptr) objectName.append(parts.extraInfo, parts.extraInfoLength);

  std::uint32_t accessType = kWinHttpAccessTypeNoProxy;
  std::u16string proxyName;
  if (!options_.proxy.empty()) {
    accessType = kWinHttpAccessTypeNamedProxy;
    proxyName = Wide(secure ? options_.proxy : "http=" + options_.proxy);
  }
  session_ = api_.WinHttpOpen(nullptr, accessType,
                              options_.proxy.empty() ? nullptr : proxyName.c_str(), nullptr, 0);
  if (session_ == nullptr) return Fail(702);

  connect_ = api_.WinHttpConnect(session_, Wide(host).c_str(), port, 0);
  if (connect_ == nullptr) return Fail(703);

  request_ = api_.WinHttpOpenRequest(connect_, Wide(MethodName(options_.method)).c_str(),
                                     objectName.c_str(), nullptr, nullptr, nullptr,
                                     secure ? kWinHttpFlagSecure : 0);
  if (request_ == nullptr) return Fail(704);

  // Seconds beyond what fits in 32-bit milliseconds are held at the largest value.
  const long long milliseconds =
      options_.timeoutSeconds > 0
          ? std::min<long long>(static_cast<long long>(options_.timeoutSeconds) * 1000, INT_MAX)
          : 30000;
  const int t = static_cast<int>(milliseconds);
  if (!api_.WinHttpSetTimeouts(request_, t, t, t, t)) return Fail(705);

  if (!options_.user.empty() && !options_.password.empty() &&
      !api_.WinHttpSetCredentials(request_, kWinHttpAuthTargetServer, kWinHttpAuthSchemeBasic,
                                  Wide(options_.user).c_str(), Wide(options_.password).c_str(),
                                  nullptr))
    return Fail(707);
  if (!options_.proxyUser.empty() && !options_.proxyPassword.empty() &&
      !api_.WinHttpSetCredentials(request_, kWinHttpAuthTargetProxy, kWinHttpAuthSchemeBasic,
                                  Wide(options_.proxyUser).c_str(),
                                  Wide(options_.proxyPassword).c_str(), nullptr))
    return Fail(707);

  const bool cookiesGiven = options_.cookies != nullptr;
  if (!(cookiesGiven ? SetFeature(kWinHttpOptionEnableFeature, kWinHttpEnableSslRevocation)
                     : SetFeature(kWinHttpOptionDisableFeature, kWinHttpDisableCookies)))
    return Fail(708);
  if (options_.noRedirect && !SetFeature(kWinHttpOptionDisableFeature, kWinHttpDisableRedirects))
    return Fail(709);

  const std::u16string headers = Wide(ComposeHeaders(
      options_.extraHeaders, options_.method, cookiesGiven ? *options_.cookies : Text()));
  if (!api_.WinHttpAddRequestHeaders(request_, headers.c_str(),
                                     static_cast<std::uint32_t>(headers.size()),
                                     kWinHttpAddreqFlagAdd | kWinHttpAddreqFlagReplace))
    return Fail(710);

  const Text& body = options_.body;
  if (body.size() > UINT32_MAX) return Fail(711);  // no 32-bit length can announce it
  const auto bodyLength = static_cast<std::uint32_t>(body.size());
  if (!api_.WinHttpSendRequest(request_, nullptr, 0,
                               body.empty() ? nullptr : const_cast<char*>(body.data()),
                               bodyLength, bodyLength, 0))
    return Fail(711);

  if (!api_.WinHttpReceiveResponse(request_, nullptr)) return Fail(712);

  // The accumulator is a byte string: when the body holds no zero byte it becomes the result
  // text without another copy.
  std::string received;
  for (;;) {
    std::uint32_t available = 0;
    if (!api_.WinHttpQueryDataAvailable(request_, &available) || available < 1) break;
    const std::size_t at = received.size();
    received.resize(at + available);  // zero-filled
    std::uint32_t read = 0;
    const bool ok = api_.WinHttpReadData(request_, received.data() + at, available, &read);
    received.resize(at + std::min(read, available));
    if (!ok) {
      if (options_.status != nullptr) *options_.status = FailureText(713);
      break;
    }
    if (read == 0) break;  // the end of the response, whatever was announced
  }

  std::uint32_t size = 0;
  std::uint32_t index = 0;
  api_.WinHttpQueryHeaders(request_, kWinHttpQueryRawHeadersCrlf, nullptr, nullptr, &size,
                           &index);
  ByteArray rawHeaders(size);
  index = 0;
  std::uint32_t length = size;
  if (!api_.WinHttpQueryHeaders(request_, kWinHttpQueryRawHeadersCrlf, nullptr,
                                rawHeaders.empty() ? nullptr : rawHeaders.data(), &length,
                                &index))
    return Finish();

  Text responseHeaders = WideToGbk(rawHeaders);
  if (options_.responseHeaders != nullptr) *options_.responseHeaders = responseHeaders;

  if (options_.status != nullptr) {
    const std::size_t end = responseHeaders.size() > 9 ? responseHeaders.find("\r\n", 9)
                                                       : std::string::npos;
    *options_.status = end == std::string::npos ? Text() : responseHeaders.substr(9, end - 9);
  }

  NormalizeSetCookie(responseHeaders);
  if (options_.responseHeaders != nullptr) *options_.responseHeaders = responseHeaders;
  CookieText collected;
  CookieText& cookiesOut = options_.cookiesOut != nullptr ? *options_.cookiesOut : collected;
  cookiesOut.clear();
  for (std::string_view line : SplitItems(responseHeaders, "\r\n")) {
    AppendSetCookieItem(line, cookiesOut);
    if (line.size() >= 10 && AsciiLower(line.substr(0, 10)) == "location: " &&
        options_.location != nullptr)
      *options_.location = Text(line.substr(10));
    Messages().DispatchPending();
  }
  if (cookiesOut.size() >= 2) cookiesOut.resize(cookiesOut.size() - 2);
  if (options_.autoMergeCookies && cookiesGiven) {
    Text merged = MergeCookies(*options_.cookies, cookiesOut);
    cookiesOut = std::move(merged);
  }

  if (options_.responseBytes != nullptr) *options_.responseBytes = ByteArray(received.begin(), received.end());
  const std::size_t zero = received.find('\0');
  if (zero == std::string::npos) {
    result_ = std::move(received);
    DecodeDeclaredCharset(regex_, result_, result_);
  } else {
    result_.assign(received, 0, zero);
    DecodeDeclaredCharset(regex_, received, result_);
  }
  return Finish();
}

}  // namespace

Text WebRequest(std::string_view url, const WebRequestOptions& options) {
  return Call(url, options).Run();
}

}  // namespace sellmeter
