// The WinInet calls of the picture download on the shared libcurl transport.
//
// What WinInet does for the download and this layer reproduces: the agent of the root handle
// becomes the User-Agent line unless the caller's block has one; Host and "Connection:
// Keep-Alive" are added; redirects are followed (http to https too, https to http only with
// INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP) unless INTERNET_FLAG_NO_AUTO_REDIRECT; one cookie store
// for the whole process keeps and sends cookies unless INTERNET_FLAG_NO_COOKIES; keep-alive
// connections are pooled for the whole process; HttpQueryInfoA level 22 gives the raw header
// block. There is no disk cache: every request goes to the server.
//
// HttpSendRequestA runs the whole exchange; InternetReadFile then hands out the body that
// arrived. A body cut short (server gone, stall, size limit) reads to its end and then fails,
// as a broken WinInet transfer does.
#include "download/linux/linux_wininet.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "download/wininet_api.h"
#include "http/linux/curl_transport.h"

namespace sellmeter {

namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInternetIncorrectHandleState = 12019;
constexpr std::uint32_t kInternetOpenTypePreconfig = 0;
constexpr std::uint32_t kInternetOpenTypePreconfigNoAutoproxy = 4;
constexpr std::uint32_t kInternetFlagAsync = 0x10000000;
constexpr std::uint32_t kInternetFlagIgnoreRedirectToHttp = 0x00008000;
constexpr std::uint32_t kHttpQueryModifierMask = 0xFFFF0000;

thread_local std::uint32_t t_lastError = 0;

bool Fail(std::uint32_t error) {
  t_lastError = error;
  return false;
}

std::nullptr_t FailHandle(std::uint32_t error) {
  t_lastError = error;
  return nullptr;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string Str(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

enum class Kind { kInternet, kConnect, kRequest };

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  Kind kind;
};

// Children copy what they need from their parents, so handles may be closed in any order.
struct Session {
  std::string agent;
  std::string proxyList;  // empty: direct
};

struct InternetHandle : Handle {
  InternetHandle() : Handle(Kind::kInternet) {}
  Session session;
};

struct ConnectHandle : Handle {
  ConnectHandle() : Handle(Kind::kConnect) {}
  Session session;
  std::string server;
  std::uint16_t port = 0;
};

struct RequestHandle : Handle {
  RequestHandle() : Handle(Kind::kRequest) {}
  Session session;
  std::string server;
  std::uint16_t port = 0;
  std::string verb;
  std::string object;
  std::string referrer;
  std::string accept;
  std::uint32_t flags = 0;

  bool answered = false;
  std::string headerBlock;
  std::vector<std::uint8_t> body;
  std::size_t readOffset = 0;
  bool bodyBroken = false;
  std::uint32_t bodyError = 0;
};

struct Registry {
  std::mutex mutex;
  std::unordered_set<Handle*> live;
};

Registry& Handles() {
  static Registry* registry = new Registry;  // outlives every static that might close a handle
  return *registry;
}

InetHandle Register(std::unique_ptr<Handle> handle) {
  Registry& registry = Handles();
  std::lock_guard<std::mutex> lock(registry.mutex);
  Handle* raw = handle.release();
  registry.live.insert(raw);
  return raw;
}

template <typename T>
T* Find(InetHandle handle, Kind kind) {
  Registry& registry = Handles();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(static_cast<Handle*>(handle));
  if (it == registry.live.end()) {
    t_lastError = kErrorInvalidHandle;
    return nullptr;
  }
  if ((*it)->kind != kind) {
    t_lastError = kErrorInternetIncorrectHandleType;
    return nullptr;
  }
  return static_cast<T*>(*it);
}

struct Process {
  std::mutex mutex;
  InetLimits limits;
  std::shared_ptr<curl::CurlShare> share = std::make_shared<curl::CurlShare>(true, true);
};

Process& State() {
  static Process* process = new Process;
  return *process;
}

// A host name or address as a resolver would take it: letters, digits, "-", "." and "_", or an
// IPv6 literal in brackets. Anything else (blanks, controls, "?", "@", ":") resolves nowhere.
bool IsServerName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  if (name.front() == '[') {
    if (name.size() < 3 || name.back() != ']') return false;
    for (char c : name.substr(1, name.size() - 2))
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
            c == ':' || c == '.'))
        return false;
    return true;
  }
  for (char c : name)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
          c == '.' || c == '_'))
      return false;
  return true;
}

// The object name as it goes into the request line: bytes that may not stand there raw
// (controls, blank, DEL, non-ASCII) are percent-encoded, everything else is kept.
std::string EscapeObject(std::string_view object) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (object.empty() || object.front() != '/') out += '/';
  for (char c : object) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// WinInet's proxy list: entries separated by blanks or ";", each "scheme=address" or a bare
// address for every scheme. The entry for the request's scheme wins over a bare one.
std::string ProxyFor(std::string_view list, std::string_view scheme) {
  std::string bare, specific;
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find_first_of(" ;", at);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(at, end - at);
    at = end + 1;
    if (entry.empty()) continue;
    std::size_t equals = entry.find('=');
    std::string_view address = equals == std::string_view::npos ? entry : entry.substr(equals + 1);
    if (address.substr(0, 7) == "http://") address.remove_prefix(7);
    while (!address.empty() && address.back() == '/') address.remove_suffix(1);
    if (equals == std::string_view::npos) {
      if (bare.empty()) bare = address;
    } else if (EqualsNoCase(entry.substr(0, equals), scheme) && specific.empty()) {
      specific = address;
    }
  }
  return specific.empty() ? bare : specific;
}

// A header name is a token: printable ASCII without separators.
bool IsHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || std::strchr("()<>@,;:\\\"/[]?={}", c) != nullptr)
      return false;
  }
  return true;
}

// The caller's block as header lines: split at every CR or LF, empty pieces dropped, and a
// piece that is not "Name: value" with printable bytes dropped, so nothing the caller passes
// can end the header section early or smuggle a second request.
std::vector<std::string> HeaderLines(std::string_view block) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at <= block.size()) {
    std::size_t end = block.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsHeaderName(line.substr(0, colon))) continue;
    bool clean = true;
    for (char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t') || byte == 0x7F) clean = false;
    }
    if (clean) lines.emplace_back(line);
  }
  return lines;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    std::string_view key = std::string_view(line).substr(0, line.find(':'));
    if (EqualsNoCase(key, name)) return true;
  }
  return false;
}

// The agent as a header value: up to its first line end.
std::string AgentValue(const std::string& agent) {
  return agent.substr(0, agent.find_first_of("\r\n"));
}

class LinuxWinInet final : public WinInetApi {
 public:
  InetHandle InternetOpenA(const char* agent, std::uint32_t accessType, const char* proxyName,
                           const char* /*proxyBypass*/, std::uint32_t flags) override {
    if ((flags & kInternetFlagAsync) != 0) return FailHandle(kErrorInvalidParameter);
    auto handle = std::make_unique<InternetHandle>();
    handle->session.agent = Str(agent);
    switch (accessType) {
      case kInternetOpenTypeDirect:
      case kInternetOpenTypePreconfig:  // no system proxy settings here: direct
      case kInternetOpenTypePreconfigNoAutoproxy:
        break;
      case kInternetOpenTypeProxy:
        handle->session.proxyList = Str(proxyName);
        if (handle->session.proxyList.empty()) return FailHandle(kErrorInvalidParameter);
        break;
      default:
        return FailHandle(kErrorInvalidParameter);
    }
    return Register(std::move(handle));
  }

  InetHandle InternetConnectA(InetHandle internet, const char* serverName, std::uint16_t serverPort,
                              const char* /*userName*/, const char* /*password*/,
                              std::uint32_t service, std::uint32_t /*flags*/,
                              std::uintptr_t /*context*/) override {
    auto* parent = Find<InternetHandle>(internet, Kind::kInternet);
    if (parent == nullptr) return nullptr;
    if (service != kInternetServiceHttp) return FailHandle(kErrorInvalidParameter);
    // Like WinInet, nothing goes to the network yet: the name is resolved by the send.
    auto handle = std::make_unique<ConnectHandle>();
    handle->session = parent->session;
    handle->server = Str(serverName);
    handle->port = serverPort;
    return Register(std::move(handle));
  }

  InetHandle HttpOpenRequestA(InetHandle connect, const char* verb, const char* objectName,
                              const char* /*version*/, const char* referrer,
                              const char** acceptTypes, std::uint32_t flags,
                              std::uintptr_t /*context*/) override {
    auto* parent = Find<ConnectHandle>(connect, Kind::kConnect);
    if (parent == nullptr) return nullptr;
    auto handle = std::make_unique<RequestHandle>();
    handle->session = parent->session;
    handle->server = parent->server;
    handle->port = parent->port;
    handle->verb = verb != nullptr && *verb != '\0' ? verb : "GET";
    handle->object = Str(objectName);
    handle->referrer = Str(referrer);
    for (const char** type = acceptTypes; type != nullptr && *type != nullptr; ++type) {
      if (!handle->accept.empty()) handle->accept += ", ";
      handle->accept += *type;
    }
    handle->flags = flags;
    return Register(std::move(handle));
  }

  bool HttpSendRequestA(InetHandle request, const char* headers, std::uint32_t headersLength,
                        const void* optional, std::uint32_t optionalLength) override {
    auto* r = Find<RequestHandle>(request, Kind::kRequest);
    if (r == nullptr) return false;
    if (optional == nullptr && optionalLength != 0) return Fail(kErrorInvalidParameter);
    r->answered = false;
    r->headerBlock.clear();
    r->body.clear();
    r->readOffset = 0;
    r->bodyBroken = false;

    const bool secure = (r->flags & kInternetFlagSecure) != 0;
    if (!IsServerName(r->server)) return Fail(kErrorInternetNameNotResolved);
    const std::uint16_t port =
        r->port != kInternetInvalidPortNumber ? r->port : (secure ? 443 : 80);

    std::string_view block;
    if (headers != nullptr) {
      block = headersLength == 0xFFFFFFFFu ? std::string_view(headers)
                                           : std::string_view(headers, headersLength);
    }

    curl::CurlRequest exchange;
    exchange.method = r->verb;
    exchange.url = std::string(secure ? "https://" : "http://") + r->server;
    if (port != (secure ? 443 : 80)) exchange.url += ":" + std::to_string(port);
    exchange.url += EscapeObject(r->object);
    exchange.headers = HeaderLines(block);
    if (!r->accept.empty() && !HasHeader(exchange.headers, "Accept"))
      exchange.headers.push_back("Accept: " + r->accept);
    if (!r->referrer.empty() && !HasHeader(exchange.headers, "Referer"))
      exchange.headers.push_back("Referer: " + r->referrer);
    const std::string agent = AgentValue(r->session.agent);
    if (!agent.empty() && !HasHeader(exchange.headers, "User-Agent"))
      exchange.headers.push_back("User-Agent: " + agent);
    if (!HasHeader(exchange.headers, "Connection"))
      exchange.headers.push_back("Connection: Keep-Alive");
    if (optionalLength != 0)
      exchange.body = std::string_view(static_cast<const char*>(optional), optionalLength);
    exchange.contentLengthWhenEmpty = r->verb == "POST" || r->verb == "PUT";
    exchange.proxy = ProxyFor(r->session.proxyList, secure ? "https" : "http");

    if ((r->flags & kInternetFlagNoAutoRedirect) != 0) {
      exchange.redirects = curl::RedirectPolicy::kNever;
    } else if ((r->flags & kInternetFlagIgnoreRedirectToHttp) != 0) {
      exchange.redirects = curl::RedirectPolicy::kAlways;
    } else {
      exchange.redirects = curl::RedirectPolicy::kNotHttpsToHttp;
    }
    exchange.cookieEngine = (r->flags & kInternetFlagNoCookies) == 0;

    std::shared_ptr<curl::CurlShare> share;
    {
      Process& process = State();
      std::lock_guard<std::mutex> lock(process.mutex);
      const InetLimits& limits = process.limits;
      exchange.connectTimeoutMs = limits.connectTimeoutMs;
      exchange.sendTimeoutMs = limits.idleTimeoutMs;
      exchange.receiveTimeoutMs = limits.idleTimeoutMs;
      exchange.totalTimeoutMs = limits.totalTimeoutMs;
      exchange.maxBodyBytes = limits.maxBodyBytes;
      exchange.maxHeaderBytes = limits.maxHeaderBytes;
      exchange.maxRedirects = limits.maxRedirects;
      share = process.share;
    }
    exchange.share = share.get();

    curl::CurlResponse response = curl::PerformExchange(exchange);
    switch (response.failure) {
      case curl::CurlFailure::kNone:
        break;
      case curl::CurlFailure::kBody:
        r->bodyBroken = true;
        r->bodyError = response.timedOut ? kErrorInternetTimeout : kErrorInternetConnectionAborted;
        break;
      case curl::CurlFailure::kConnect:
        return Fail(response.timedOut ? kErrorInternetTimeout : kErrorInternetCannotConnect);
      case curl::CurlFailure::kResponse:
        return Fail(response.timedOut ? kErrorInternetTimeout : kErrorInternetConnectionAborted);
    }
    r->answered = true;
    r->headerBlock = std::move(response.headerBlock);
    r->body = std::move(response.body);
    return true;
  }

  bool InternetReadFile(InetHandle file, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t* bytesRead) override {
    auto* r = Find<RequestHandle>(file, Kind::kRequest);
    if (r == nullptr) return false;
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0))
      return Fail(kErrorInvalidParameter);
    *bytesRead = 0;
    if (!r->answered) return Fail(kErrorInternetIncorrectHandleState);
    const std::size_t left = r->body.size() - r->readOffset;
    if (left == 0) return r->bodyBroken && bytesToRead != 0 ? Fail(r->bodyError) : true;
    const std::size_t n = left < bytesToRead ? left : bytesToRead;
    std::memcpy(buffer, r->body.data() + r->readOffset, n);
    r->readOffset += n;
    *bytesRead = static_cast<std::uint32_t>(n);
    return true;
  }

  bool HttpQueryInfoA(InetHandle request, std::uint32_t infoLevel, void* buffer,
                      std::uint32_t* bufferLength, std::uint32_t* /*index*/) override {
    auto* r = Find<RequestHandle>(request, Kind::kRequest);
    if (r == nullptr) return false;
    if (bufferLength == nullptr) return Fail(kErrorInvalidParameter);
    if ((infoLevel & kHttpQueryModifierMask) != 0 || infoLevel != kHttpQueryRawHeadersCrlf)
      return Fail(kErrorHttpHeaderNotFound);
    if (!r->answered) return Fail(kErrorInternetIncorrectHandleState);
    const std::size_t needed = r->headerBlock.size() + 1;
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = static_cast<std::uint32_t>(needed);
      return Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, r->headerBlock.c_str(), needed);
    *bufferLength = static_cast<std::uint32_t>(r->headerBlock.size());
    return true;
  }

  bool InternetCloseHandle(InetHandle handle) override {
    Registry& registry = Handles();
    std::unique_ptr<Handle> owned;
    {
      std::lock_guard<std::mutex> lock(registry.mutex);
      auto it = registry.live.find(static_cast<Handle*>(handle));
      if (it == registry.live.end()) return Fail(kErrorInvalidHandle);
      owned.reset(*it);
      registry.live.erase(it);
    }
    return true;
  }
};

}  // namespace

WinInetApi& PlatformWinInetApi() {
  static LinuxWinInet api;
  return api;
}

void SetInetLimits(const InetLimits& limits) {
  Process& process = State();
  std::lock_guard<std::mutex> lock(process.mutex);
  process.limits = limits;
}

InetLimits CurrentInetLimits() {
  Process& process = State();
  std::lock_guard<std::mutex> lock(process.mutex);
  return process.limits;
}

std::uint32_t InetLastError() { return t_lastError; }

void ResetInetSessionState() {
  auto fresh = std::make_shared<curl::CurlShare>(true, true);
  Process& process = State();
  std::lock_guard<std::mutex> lock(process.mutex);
  process.share = std::move(fresh);  // an exchange still running keeps the old one alive
}

}  // namespace sellmeter
