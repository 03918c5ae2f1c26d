#include "http/linux/winhttp_linux.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "http/linux/curl_transport.h"
#include "http/winhttp_api.h"
#include "text/codepage.h"

namespace sellmeter {
namespace {

thread_local std::uint32_t lastError = 0;
std::atomic<std::size_t> bodyLimit{std::size_t{64} << 20};

constexpr std::uint32_t kWinHttpFlagAsync = 0x10000000;
constexpr std::uint32_t kWinHttpOptionRedirectPolicy = 88;
constexpr std::uint32_t kWinHttpOptionMaxRedirects = 89;
constexpr std::uint32_t kNoLength = 0xFFFFFFFF;
constexpr long kInfiniteMs = 24L * 3600 * 1000;
constexpr std::uint32_t kMaxRead = 1u << 20;

bool Failed(std::uint32_t error) {
  lastError = error;
  return false;
}
HInternet NoHandle(std::uint32_t error) {
  lastError = error;
  return nullptr;
}

std::size_t Length(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

std::u16string_view View(const char16_t* text, std::uint32_t length) {
  if (text == nullptr) return {};
  return length == kNoLength || length == 0 ? std::u16string_view(text, Length(text))
                                            : std::u16string_view(text, length);
}

// Names, verbs and hosts are ASCII on the wire; header values and credentials go out in the
// ANSI code page, as WinHTTP converts them.
std::string Utf8(std::u16string_view text) { return U16ToText(text, kCpUtf8); }
std::string Ansi(std::u16string_view text) { return U16ToText(text, kCpGbk); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}
bool EqualsNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] > 0x7F || Lower(static_cast<char>(a[i])) != Lower(b[i])) return false;
  return true;
}

// Escapes what may not stand in a request target, as WinHTTP does by default: blanks, control
// bytes and non-ASCII (as UTF-8). Existing escapes pass.
std::string EscapeTarget(std::u16string_view object) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Utf8(object)) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.empty() || (out[0] != '/' && out != "*")) out.insert(out.begin(), '/');
  return out;
}

struct Handle {
  enum class Kind { kSession, kConnection, kRequest } kind;
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
};

struct Timeouts {
  int resolve = 0, connect = 60000, send = 30000, receive = 30000;
};

struct SessionData {
  std::string agent;
  std::uint32_t accessType = kWinHttpAccessTypeNoProxy;
  std::string proxyList;
  Timeouts timeouts;
};

struct Session : Handle {
  Session() : Handle(Kind::kSession) {}
  std::shared_ptr<SessionData> data = std::make_shared<SessionData>();
};

struct Connection : Handle {
  Connection() : Handle(Kind::kConnection) {}
  std::shared_ptr<SessionData> session;
  std::string host;
  std::uint16_t port = 0;
};

struct Request : Handle {
  Request() : Handle(Kind::kRequest) {}
  enum class State { kOpen, kSent, kReceived } state = State::kOpen;
  std::shared_ptr<SessionData> session;
  std::string host;
  std::uint16_t port = 0;
  bool secure = false;
  std::string verb, target;
  Timeouts timeouts;
  std::string user, password, proxyUser, proxyPassword;
  std::uint32_t disabled = 0;
  std::uint32_t redirectPolicy = 1;  // never 0, https-to-http disallowed 1, always 2
  int maxRedirects = 10;
  std::vector<std::string> headers;  // wire lines
  std::string body;
  curl::CurlResponse response;
  std::u16string headerBlock;
  std::size_t readOffset = 0;
};

std::mutex handlesMutex;
std::unordered_map<void*, std::unique_ptr<Handle>>& Handles() {
  static auto* handles = new std::unordered_map<void*, std::unique_ptr<Handle>>();
  return *handles;
}

HInternet Register(std::unique_ptr<Handle> handle) {
  void* key = handle.get();
  std::lock_guard<std::mutex> lock(handlesMutex);
  Handles().emplace(key, std::move(handle));
  return key;
}

template <typename T>
T* Find(HInternet handle, Handle::Kind kind) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  auto it = Handles().find(handle);
  if (it == Handles().end()) {
    lastError = kErrorInvalidHandle;
    return nullptr;
  }
  if (it->second->kind != kind) {
    lastError = kErrorWinHttpIncorrectHandleType;
    return nullptr;
  }
  return static_cast<T*>(it->second.get());
}

std::string_view HeaderName(std::string_view line) {
  std::string_view name = line.substr(0, line.find(':'));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

// Applies one block of header lines with WinHTTP's modifiers; all lines are checked first.
bool AddHeaders(Request& request, std::u16string_view block, std::uint32_t modifiers) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at <= block.size()) {
    std::size_t end = block.find_first_of(u"\r\n", at);
    if (end == std::u16string_view::npos) end = block.size();
    std::u16string_view line = block.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    std::string text = Ansi(line);
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || HeaderName(text).empty() ||
        HeaderName(text).find_first_of(" \t") != std::string_view::npos)
      return Failed(kErrorWinHttpInvalidHeader);
    lines.push_back(std::move(text));
  }
  for (std::string& line : lines) {
    const std::string_view name = HeaderName(line);
    auto existing = std::find_if(request.headers.begin(), request.headers.end(),
                                 [&](const std::string& h) { return EqualsNoCase(HeaderName(h), name); });
    const bool found = existing != request.headers.end();
    std::string_view value = std::string_view(line).substr(line.find(':') + 1);
    const bool emptyValue = value.find_first_not_of(" \t") == std::string_view::npos;
    if (modifiers & kWinHttpAddreqFlagReplace) {
      if (found && emptyValue) {
        request.headers.erase(existing);
      } else if (found) {
        *existing = line;
      } else if (modifiers & kWinHttpAddreqFlagAdd) {
        request.headers.push_back(line);
      }
    } else if (modifiers & kWinHttpAddreqFlagAddIfNew) {
      if (found) return Failed(kErrorWinHttpInvalidHeader);
      request.headers.push_back(line);
    } else {
      request.headers.push_back(line);
    }
  }
  return true;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& h) { return EqualsNoCase(HeaderName(h), name); });
}

// The proxy of a WinHTTP proxy list for a scheme: "[scheme=][scheme://]host[:port]" entries
// separated by ';' or blanks; an entry without "scheme=" serves every scheme. Empty: direct.
std::string ProxyFor(const std::string& list, bool secure) {
  const std::string_view scheme = secure ? "https" : "http";
  std::string fallback;
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find_first_of("; \t", at);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(at, end - at);
    at = end + 1;
    if (entry.empty()) continue;
    std::size_t eq = entry.find('=');
    std::string forScheme;
    if (eq != std::string::npos) {
      forScheme = entry.substr(0, eq);
      entry.erase(0, eq + 1);
    }
    if (std::size_t sep = entry.find("://"); sep != std::string::npos) entry.erase(0, sep + 3);
    if (entry.empty()) continue;
    if (entry.find(':') == std::string::npos) entry += ":80";
    if (forScheme.empty()) {
      if (fallback.empty()) fallback = entry;
    } else if (EqualsNoCase(forScheme, scheme)) {
      return entry;
    }
  }
  return fallback;
}

long Bound(int milliseconds) { return milliseconds <= 0 ? kInfiniteMs : milliseconds; }

std::uint32_t ConnectError(const curl::CurlResponse& response) {
  if (response.timedOut) return kErrorWinHttpTimeout;
  if (response.error.find("resolve") != std::string::npos) return kErrorWinHttpNameNotResolved;
  if (response.error.find("SSL") != std::string::npos ||
      response.error.find("certificate") != std::string::npos)
    return kErrorWinHttpSecureFailure;
  return kErrorWinHttpCannotConnect;
}

class LinuxWinHttp final : public WinHttpApi {
 public:
  bool WinHttpCheckPlatform() override { return true; }

  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t,
                       UrlComponents* parts) override {
    if (url == nullptr || parts == nullptr || parts->structSize != sizeof(UrlComponents))
      return Failed(kErrorInvalidParameter);
    const std::u16string_view text = View(url, urlLength);
    const std::size_t colon = text.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 ||
        text.substr(colon, 3) != std::u16string_view(u"://"))
      return Failed(text.find(u':') == std::u16string_view::npos ? kErrorWinHttpUnrecognizedScheme
                                                                  : kErrorWinHttpInvalidUrl);
    const std::u16string_view scheme = text.substr(0, colon);
    std::uint32_t schemeNumber;
    std::uint16_t port;
    if (EqualsNoCase(scheme, "http")) {
      schemeNumber = kInternetSchemeHttp;
      port = kInternetDefaultHttpPort;
    } else if (EqualsNoCase(scheme, "https")) {
      schemeNumber = kInternetSchemeHttps;
      port = kInternetDefaultHttpsPort;
    } else {
      return Failed(kErrorWinHttpUnrecognizedScheme);
    }
    const std::size_t authorityStart = colon + 3;
    std::size_t authorityEnd = text.find_first_of(u"/?#", authorityStart);
    if (authorityEnd == std::u16string_view::npos) authorityEnd = text.size();
    std::u16string_view authority = text.substr(authorityStart, authorityEnd - authorityStart);
    std::u16string_view user, password;
    if (std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
      std::u16string_view info = authority.substr(0, at);
      std::size_t split = info.find(u':');
      user = info.substr(0, split);
      if (split != std::u16string_view::npos) password = info.substr(split + 1);
      authority.remove_prefix(at + 1);
    }
    std::u16string_view host = authority;
    std::u16string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == u'[') {
      std::size_t close = authority.find(u']');
      if (close == std::u16string_view::npos) return Failed(kErrorWinHttpInvalidUrl);
      host = authority.substr(0, close + 1);
      std::u16string_view rest = authority.substr(close + 1);
      if (!rest.empty()) {
        if (rest[0] != u':') return Failed(kErrorWinHttpInvalidUrl);
        portText = rest.substr(1);
        hasPort = true;
      }
    } else if (std::size_t p = authority.find(u':'); p != std::u16string_view::npos) {
      host = authority.substr(0, p);
      portText = authority.substr(p + 1);
      hasPort = true;
    }
    if (host.empty()) return Failed(kErrorWinHttpInvalidUrl);
    for (char16_t c : host)
      if (c <= 0x20 || c == 0x7F || c == u'\\') return Failed(kErrorWinHttpInvalidUrl);
    if (hasPort) {
      if (portText.empty() || portText.size() > 5) return Failed(kErrorWinHttpInvalidUrl);
      unsigned value = 0;
      for (char16_t c : portText) {
        if (c < u'0' || c > u'9') return Failed(kErrorWinHttpInvalidUrl);
        value = value * 10 + (c - u'0');
      }
      if (value == 0 || value > 65535) return Failed(kErrorWinHttpInvalidUrl);
      port = static_cast<std::uint16_t>(value);
    }
    std::size_t pathEnd = text.find_first_of(u"?#", authorityEnd);
    if (pathEnd == std::u16string_view::npos) pathEnd = text.size();
    const std::u16string_view path = text.substr(authorityEnd, pathEnd - authorityEnd);
    const std::u16string_view extra = text.substr(pathEnd);

    struct Piece {
      char16_t** pointer;
      std::uint32_t* length;
      std::u16string_view value;
    } pieces[] = {
        {&parts->scheme, &parts->schemeLength, scheme},
        {&parts->hostName, &parts->hostNameLength, host},
        {&parts->userName, &parts->userNameLength, user},
        {&parts->password, &parts->passwordLength, password},
        {&parts->urlPath, &parts->urlPathLength, path},
        {&parts->extraInfo, &parts->extraInfoLength, extra},
    };
    for (Piece& piece : pieces) {  // sizes first: nothing is written when a buffer is short
      if (*piece.pointer != nullptr && *piece.length != 0 && *piece.length <= piece.value.size())
        return Failed(kErrorInsufficientBuffer);
    }
    for (Piece& piece : pieces) {
      if (*piece.length == 0) continue;
      if (*piece.pointer == nullptr) {
        // Points into the caller's URL, as WinHTTP does.
        *piece.pointer = piece.value.empty()
                             ? nullptr
                             : const_cast<char16_t*>(url + (piece.value.data() - text.data()));
      } else {
        std::copy(piece.value.begin(), piece.value.end(), *piece.pointer);
        (*piece.pointer)[piece.value.size()] = u'\0';
      }
      *piece.length = static_cast<std::uint32_t>(piece.value.size());
    }
    parts->schemeNumber = schemeNumber;
    parts->port = port;
    lastError = 0;
    return true;
  }

  HInternet WinHttpOpen(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                        const char16_t*, std::uint32_t flags) override {
    if (flags & kWinHttpFlagAsync) return NoHandle(kErrorInvalidParameter);  // synchronous only
    auto session = std::make_unique<Session>();
    if (agent != nullptr) session->data->agent = Ansi(View(agent, kNoLength));
    switch (accessType) {
      case kWinHttpAccessTypeDefaultProxy:
      case kWinHttpAccessTypeNoProxy:
        session->data->accessType = kWinHttpAccessTypeNoProxy;
        break;
      case kWinHttpAccessTypeNamedProxy:
        if (proxyName == nullptr || *proxyName == u'\0') return NoHandle(kErrorInvalidParameter);
        session->data->accessType = accessType;
        session->data->proxyList = Utf8(View(proxyName, kNoLength));
        break;
      default:
        return NoHandle(kErrorInvalidParameter);
    }
    return Register(std::move(session));
  }

  HInternet WinHttpConnect(HInternet sessionHandle, const char16_t* serverName,
                           std::uint16_t serverPort, std::uint32_t) override {
    Session* session = Find<Session>(sessionHandle, Handle::Kind::kSession);
    if (session == nullptr) return nullptr;
    if (serverName == nullptr || *serverName == u'\0') return NoHandle(kErrorInvalidParameter);
    auto connection = std::make_unique<Connection>();
    connection->session = session->data;
    connection->host = Utf8(View(serverName, kNoLength));
    connection->port = serverPort;
    for (char c : connection->host)
      if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '?' || c == '#' || c == '@')
        return NoHandle(kErrorWinHttpInvalidUrl);
    return Register(std::move(connection));
  }

  HInternet WinHttpOpenRequest(HInternet connectHandle, const char16_t* verb,
                               const char16_t* objectName, const char16_t*,
                               const char16_t* referrer, const char16_t* const* acceptTypes,
                               std::uint32_t flags) override {
    Connection* connection = Find<Connection>(connectHandle, Handle::Kind::kConnection);
    if (connection == nullptr) return nullptr;
    auto request = std::make_unique<Request>();
    request->session = connection->session;
    request->timeouts = connection->session->timeouts;
    request->host = connection->host;
    request->secure = (flags & kWinHttpFlagSecure) != 0;
    request->port = connection->port != 0 ? connection->port
                                          : (request->secure ? kInternetDefaultHttpsPort
                                                             : kInternetDefaultHttpPort);
    request->verb = verb == nullptr || *verb == u'\0' ? "GET" : Utf8(View(verb, kNoLength));
    for (char c : request->verb)
      if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
        return NoHandle(kErrorInvalidParameter);
    request->target = EscapeTarget(objectName == nullptr ? u"/" : View(objectName, kNoLength));
    if (!request->session->agent.empty())
      request->headers.push_back("User-Agent: " + request->session->agent);
    if (referrer != nullptr && *referrer != u'\0')
      request->headers.push_back("Referer: " + Ansi(View(referrer, kNoLength)));
    if (acceptTypes != nullptr && acceptTypes[0] != nullptr) {
      std::string accept = "Accept: ";
      for (int i = 0; acceptTypes[i] != nullptr; ++i)
        accept += (i > 0 ? ", " : "") + Ansi(View(acceptTypes[i], kNoLength));
      request->headers.push_back(accept);
    }
    return Register(std::move(request));
  }

  bool WinHttpSetTimeouts(HInternet handle, int resolve, int connect, int send,
                          int receive) override {
    if (resolve < -1 || connect < -1 || send < -1 || receive < -1)
      return Failed(kErrorInvalidParameter);
    const Timeouts timeouts{resolve, connect, send, receive};
    {
      std::lock_guard<std::mutex> lock(handlesMutex);
      auto it = Handles().find(handle);
      if (it == Handles().end()) return Failed(kErrorInvalidHandle);
      if (it->second->kind == Handle::Kind::kSession)
        static_cast<Session*>(it->second.get())->data->timeouts = timeouts;
      else if (it->second->kind == Handle::Kind::kRequest)
        static_cast<Request*>(it->second.get())->timeouts = timeouts;
      else
        return Failed(kErrorWinHttpIncorrectHandleType);
    }
    return true;
  }

  bool WinHttpSetCredentials(HInternet handle, std::uint32_t targets, std::uint32_t scheme,
                             const char16_t* user, const char16_t* password, void*) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (scheme != kWinHttpAuthSchemeBasic || user == nullptr ||
        (targets != kWinHttpAuthTargetServer && targets != kWinHttpAuthTargetProxy))
      return Failed(kErrorInvalidParameter);
    std::string name = Ansi(View(user, kNoLength));
    std::string secret = password == nullptr ? "" : Ansi(View(password, kNoLength));
    if (targets == kWinHttpAuthTargetServer) {
      request->user = std::move(name);
      request->password = std::move(secret);
    } else {
      request->proxyUser = std::move(name);
      request->proxyPassword = std::move(secret);
    }
    return true;
  }

  bool WinHttpSetOption(HInternet handle, std::uint32_t option, void* buffer,
                        std::uint32_t length) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (buffer == nullptr || length != sizeof(std::uint32_t))
      return Failed(kErrorInsufficientBuffer);
    std::uint32_t value;
    std::memcpy(&value, buffer, sizeof value);
    switch (option) {
      case kWinHttpOptionDisableFeature:
        if (value & ~(kWinHttpDisableCookies | kWinHttpDisableRedirects |
                      kWinHttpDisableAuthentication | kWinHttpDisableKeepAlive))
          return Failed(kErrorInvalidParameter);
        request->disabled |= value;
        return true;
      case kWinHttpOptionEnableFeature:
        // Revocation checking is OpenSSL's business here; the flag is accepted as a request.
        if (value != kWinHttpEnableSslRevocation) return Failed(kErrorInvalidParameter);
        return true;
      case kWinHttpOptionRedirectPolicy:
        if (value > 2) return Failed(kErrorInvalidParameter);
        request->redirectPolicy = value;
        return true;
      case kWinHttpOptionMaxRedirects:
        request->maxRedirects = static_cast<int>(std::min<std::uint32_t>(value, 1000));
        return true;
      default:
        return Failed(kErrorWinHttpInvalidOption);
    }
  }

  bool WinHttpAddRequestHeaders(HInternet handle, const char16_t* headers, std::uint32_t length,
                                std::uint32_t modifiers) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (headers == nullptr) return Failed(kErrorInvalidParameter);
    if (request->state != Request::State::kOpen) return Failed(kErrorWinHttpIncorrectHandleState);
    return AddHeaders(*request, View(headers, length), modifiers);
  }

  bool WinHttpSendRequest(HInternet handle, const char16_t* headers, std::uint32_t headersLength,
                          void* optional, std::uint32_t optionalLength, std::uint32_t totalLength,
                          std::uintptr_t) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (request->state != Request::State::kOpen) return Failed(kErrorWinHttpIncorrectHandleState);
    if ((optional == nullptr && optionalLength != 0) || totalLength != optionalLength)
      return Failed(kErrorInvalidParameter);  // no WinHttpWriteData here: the body comes whole
    if (headers != nullptr && headersLength != 0 &&
        !AddHeaders(*request, View(headers, headersLength), kWinHttpAddreqFlagAdd))
      return false;
    if (optionalLength != 0) request->body.assign(static_cast<const char*>(optional), optionalLength);

    curl::CurlRequest exchange;
    exchange.method = request->verb;
    const bool literal = request->host.find(':') != std::string::npos && request->host[0] != '[';
    exchange.url = std::string(request->secure ? "https://" : "http://") +
                   (literal ? "[" + request->host + "]" : request->host) + ":" +
                   std::to_string(request->port) + request->target;
    exchange.headers = request->headers;
    if (!HasHeader(exchange.headers, "Connection"))
      exchange.headers.push_back(request->disabled & kWinHttpDisableKeepAlive
                                     ? "Connection: Close"
                                     : "Connection: Keep-Alive");
    exchange.body = request->body;
    exchange.contentLengthWhenEmpty = request->verb == "POST" || request->verb == "PUT";
    const Timeouts& t = request->timeouts;
    exchange.connectTimeoutMs = std::min(Bound(t.resolve) + Bound(t.connect), kInfiniteMs);
    exchange.sendTimeoutMs = Bound(t.send);
    exchange.receiveTimeoutMs = Bound(t.receive);
    if (request->session->accessType == kWinHttpAccessTypeNamedProxy)
      exchange.proxy = ProxyFor(request->session->proxyList, request->secure);
    if (!(request->disabled & kWinHttpDisableAuthentication)) {
      exchange.user = request->user;
      exchange.password = request->password;
    }
    if (!exchange.proxy.empty()) {
      exchange.proxyUser = request->proxyUser;
      exchange.proxyPassword = request->proxyPassword;
    }
    if (request->disabled & kWinHttpDisableRedirects || request->redirectPolicy == 0)
      exchange.redirects = curl::RedirectPolicy::kNever;
    else if (request->redirectPolicy == 2)
      exchange.redirects = curl::RedirectPolicy::kAlways;
    else
      exchange.redirects = curl::RedirectPolicy::kNotHttpsToHttp;
    exchange.maxRedirects = request->maxRedirects;
    exchange.cookieEngine = !(request->disabled & kWinHttpDisableCookies);
    exchange.maxBodyBytes = bodyLimit.load();

    request->response = curl::PerformExchange(exchange);
    if (request->response.failure == curl::CurlFailure::kConnect)
      return Failed(ConnectError(request->response));
    request->state = Request::State::kSent;
    return true;
  }

  bool WinHttpReceiveResponse(HInternet handle, void*) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (request->state != Request::State::kSent) return Failed(kErrorWinHttpIncorrectHandleState);
    const curl::CurlResponse& response = request->response;
    if (response.failure == curl::CurlFailure::kResponse) {
      return Failed(response.timedOut ? kErrorWinHttpTimeout
                    : response.error == "too many redirects" ? kErrorWinHttpRedirectFailed
                                                             : kErrorWinHttpInvalidServerResponse);
    }
    request->headerBlock = TextToU16(response.headerBlock, kCpGbk);
    request->state = Request::State::kReceived;
    return true;
  }

  bool WinHttpQueryDataAvailable(HInternet handle, std::uint32_t* available) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (request->state != Request::State::kReceived) return Failed(kErrorWinHttpIncorrectHandleState);
    const std::size_t left = request->response.body.size() - request->readOffset;
    if (left == 0 && request->response.failure == curl::CurlFailure::kBody)
      return Failed(request->response.timedOut ? kErrorWinHttpTimeout
                                               : kErrorWinHttpConnectionError);
    if (available != nullptr) *available = static_cast<std::uint32_t>(std::min<std::size_t>(left, kMaxRead));
    return true;
  }

  bool WinHttpReadData(HInternet handle, void* buffer, std::uint32_t toRead,
                       std::uint32_t* read) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (request->state != Request::State::kReceived) return Failed(kErrorWinHttpIncorrectHandleState);
    if (buffer == nullptr && toRead != 0) return Failed(kErrorInvalidParameter);
    const std::vector<std::uint8_t>& body = request->response.body;
    const std::size_t n = std::min<std::size_t>(toRead, body.size() - request->readOffset);
    if (n > 0) std::memcpy(buffer, body.data() + request->readOffset, n);
    request->readOffset += n;
    if (read != nullptr) *read = static_cast<std::uint32_t>(n);
    return true;
  }

  bool WinHttpQueryHeaders(HInternet handle, std::uint32_t infoLevel, const char16_t*,
                           void* buffer, std::uint32_t* bufferLength, std::uint32_t*) override {
    Request* request = Find<Request>(handle, Handle::Kind::kRequest);
    if (request == nullptr) return false;
    if (bufferLength == nullptr) return Failed(kErrorInvalidParameter);
    if (request->state != Request::State::kReceived) return Failed(kErrorWinHttpIncorrectHandleState);
    std::u16string value;
    const std::u16string& block = request->headerBlock;
    switch (infoLevel) {
      case kWinHttpQueryRawHeadersCrlf:
        value = block;
        break;
      case kWinHttpQueryStatusCode:
        value = TextToU16(std::to_string(request->response.status), kCpGbk);
        break;
      case kWinHttpQueryStatusText: {
        std::size_t end = block.find(u"\r\n");
        std::size_t start = block.find(u' ', block.find(u' ') + 1);
        value = start < end ? block.substr(start + 1, end - start - 1) : std::u16string();
        break;
      }
      default:
        return Failed(kErrorWinHttpHeaderNotFound);
    }
    const std::size_t needed = (value.size() + 1) * 2;
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = static_cast<std::uint32_t>(needed);
      return Failed(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, value.c_str(), needed);
    *bufferLength = static_cast<std::uint32_t>(needed - 2);
    return true;
  }

  bool WinHttpCloseHandle(HInternet handle) override {
    std::unique_ptr<Handle> closing;
    {
      std::lock_guard<std::mutex> lock(handlesMutex);
      auto it = Handles().find(handle);
      if (it == Handles().end()) return Failed(kErrorInvalidHandle);
      closing = std::move(it->second);
      Handles().erase(it);
    }
    return true;
  }
};

}  // namespace

std::uint32_t WinHttpLastError() { return lastError; }
std::size_t WinHttpBodyLimit() { return bodyLimit.load(); }
void SetWinHttpBodyLimit(std::size_t bytes) { bodyLimit = bytes; }

WinHttpApi& PlatformWinHttpApi() {
  static LinuxWinHttp api;
  return api;
}

}  // namespace sellmeter
