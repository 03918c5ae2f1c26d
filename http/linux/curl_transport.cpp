#include "http/linux/curl_transport.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

namespace sellmeter::curl {
namespace {

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return true;
}

std::string_view HeaderName(std::string_view line) {
  std::size_t colon = line.find(':');
  std::string_view name = line.substr(0, colon == std::string_view::npos ? line.size() : colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines)
    if (EqualsNoCase(HeaderName(line), name)) return true;
  return false;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

bool Append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  list.release();
  list.reset(grown);
  return true;
}

// State the callbacks of one hop share.
struct Hop {
  const CurlRequest* request = nullptr;
  CurlResponse* response = nullptr;
  CURL* easy = nullptr;
  std::string block;           // header block being received
  std::size_t headerBytes = 0;
  bool blockDone = false;      // a final (non-1xx) header block is complete
  bool headerOverflow = false;
  bool connected = false;      // the request is about to go or went out
  bool stalled = false;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastDown = -1, lastUp = -1;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  Hop& hop = *static_cast<Hop*>(user);
  const std::size_t n = size * count;
  hop.lastActivity = Clock::now();
  std::string_view line(data, n);
  hop.headerBytes += n;
  if (hop.headerBytes > hop.request->maxHeaderBytes) {
    hop.headerOverflow = true;
    return 0;
  }
  if (line.substr(0, 5) == "HTTP/") {
    hop.block.clear();
    hop.blockDone = false;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  hop.block.append(line);
  hop.block.append("\r\n");
  if (line.empty()) {
    // 1xx blocks are followed by the real one; anything else ends the headers.
    const bool interim = hop.block.size() > 9 && hop.block[9] == '1';
    if (!interim) hop.blockDone = true;
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Hop& hop = *static_cast<Hop*>(user);
  const std::size_t n = size * count;
  hop.lastActivity = Clock::now();
  const std::size_t limit = hop.request->maxBodyBytes;
  std::vector<std::uint8_t>& body = hop.response->body;
  // Byte pointers, so that the appends below are plain copies.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  if (body.empty() && hop.easy != nullptr) {
    // One allocation for a body of declared length (within the limit).
    curl_off_t declared = -1;
    if (curl_easy_getinfo(hop.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK &&
        declared > 0)
      body.reserve(static_cast<std::size_t>(declared) < limit ? static_cast<std::size_t>(declared)
                                                               : limit);
  }
  if (body.size() + n > limit) {
    body.insert(body.end(), bytes, bytes + (limit - body.size()));
    hop.response->bodyLimitReached = true;
    return 0;
  }
  body.insert(body.end(), bytes, bytes + n);
  return n;
}

int OnPrereq(void* user, char*, char*, int, int) {
  Hop& hop = *static_cast<Hop*>(user);
  hop.connected = true;
  hop.lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
  Hop& hop = *static_cast<Hop*>(user);
  const Clock::time_point now = Clock::now();
  if (dlnow != hop.lastDown || ulnow != hop.lastUp) {
    hop.lastDown = dlnow;
    hop.lastUp = ulnow;
    hop.lastActivity = now;
  }
  if (!hop.connected) return 0;  // the connect timeout covers this phase
  const bool sending = ultotal > 0 && ulnow < ultotal;
  const long limit = sending ? hop.request->sendTimeoutMs : hop.request->receiveTimeoutMs;
  if (now - hop.lastActivity > std::chrono::milliseconds(limit)) {
    hop.stalled = true;
    return 1;
  }
  return 0;
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The Location of a redirect resolved against the URL it came from; empty when unusable.
std::string ResolveLocation(const std::string& base, const std::string& location) {
  std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url) return {};
  if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return {};
  if (curl_url_set(url.get(), CURLUPART_URL, location.c_str(),
                   CURLU_URLENCODE | CURLU_ALLOW_SPACE) != CURLUE_OK)
    return {};
  char* text = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) return {};
  std::string resolved(text);
  curl_free(text);
  return resolved;
}

std::string UrlPart(const std::string& whole, CURLUPart part) {
  std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, whole.c_str(), 0) != CURLUE_OK) return {};
  char* text = nullptr;
  if (curl_url_get(url.get(), part, &text, 0) != CURLUE_OK) return {};
  std::string value(text);
  curl_free(text);
  return value;
}

bool IsHttps(const std::string& url) {
  return url.size() >= 8 && EqualsNoCase(std::string_view(url).substr(0, 8), "https://");
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

}  // namespace

struct CurlShare::Impl {
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
  // Easy handles parked between exchanges, by whether they ran the cookie engine (a handle
  // that did keeps it on, so it only serves exchanges that want it).
  std::mutex idleMutex;
  std::vector<CURL*> idle[2];

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Impl*>(user)->locks[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<Impl*>(user)->locks[data].unlock();
  }
};

CurlShare::CurlShare(bool connections, bool cookies) : impl_(std::make_unique<Impl>()) {
  InitCurlOnce();
  impl_->share = curl_share_init();
  if (impl_->share == nullptr) return;
  curl_share_setopt(impl_->share, CURLSHOPT_LOCKFUNC, &Impl::Lock);
  curl_share_setopt(impl_->share, CURLSHOPT_UNLOCKFUNC, &Impl::Unlock);
  curl_share_setopt(impl_->share, CURLSHOPT_USERDATA, impl_.get());
  if (connections) {
    curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  if (cookies) curl_share_setopt(impl_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

CurlShare::~CurlShare() {
  for (std::vector<CURL*>& list : impl_->idle)
    for (CURL* easy : list) curl_easy_cleanup(easy);
  if (impl_->share != nullptr) curl_share_cleanup(impl_->share);
}

namespace {

// With a share, an exchange borrows a parked easy handle and parks it again afterwards: the
// handle keeps its internal multi handle and wake-up socket pair, so a run of exchanges on
// pooled connections costs about what one reused handle costs. Without a share every exchange
// has a handle of its own.
class EasyLease {
 public:
  EasyLease(CurlShare* share, bool cookies)
      : owner_(share != nullptr && share->impl().share != nullptr ? &share->impl() : nullptr),
        kind_(cookies ? 1 : 0) {
    if (owner_ != nullptr) {
      std::lock_guard<std::mutex> lock(owner_->idleMutex);
      std::vector<CURL*>& list = owner_->idle[kind_];
      if (!list.empty()) {
        easy_ = list.back();
        list.pop_back();
      }
    }
    if (easy_ == nullptr) easy_ = curl_easy_init();
  }
  ~EasyLease() {
    if (easy_ == nullptr) return;
    if (owner_ != nullptr) {
      // curl_easy_reset forgets the cookie file list without freeing it: clear it first.
      curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, nullptr);
      curl_easy_reset(easy_);  // drops every option pointing into the finished exchange
      std::lock_guard<std::mutex> lock(owner_->idleMutex);
      std::vector<CURL*>& list = owner_->idle[kind_];
      if (list.size() < 8) {
        list.push_back(easy_);
        return;
      }
    }
    curl_easy_cleanup(easy_);
  }
  EasyLease(const EasyLease&) = delete;
  EasyLease& operator=(const EasyLease&) = delete;
  CURL* get() const { return easy_; }
  explicit operator bool() const { return easy_ != nullptr; }

 private:
  CurlShare::Impl* owner_;
  int kind_;
  CURL* easy_ = nullptr;
};

}  // namespace

std::vector<std::string> HeaderValues(std::string_view block, std::string_view name) {
  std::vector<std::string> values;
  std::size_t at = 0;
  while (at < block.size()) {
    std::size_t end = block.find("\r\n", at);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(at, end - at);
    at = end + 2;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsNoCase(line.substr(0, colon), name)) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    values.emplace_back(value);
  }
  return values;
}

CurlResponse PerformExchange(const CurlRequest& request) {
  InitCurlOnce();
  CurlResponse response;
  EasyLease easy(request.share, request.cookieEngine);
  if (!easy) {
    response.failure = CurlFailure::kConnect;
    response.error = "curl_easy_init failed";
    return response;
  }
  CURL* h = easy.get();
  char errorBuffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
  if (request.totalTimeoutMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, request.totalTimeoutMs);
  // An explicit (possibly empty) proxy keeps http_proxy and friends out of it.
  curl_easy_setopt(h, CURLOPT_PROXY, request.proxy.empty() ? "" : ("http://" + request.proxy).c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  if (!request.proxyUser.empty()) {
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
  }
  if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
    curl_easy_setopt(h, CURLOPT_CAINFO, file);
  if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
    curl_easy_setopt(h, CURLOPT_CAPATH, dir);
  if (request.share != nullptr && request.share->impl().share != nullptr)
    curl_easy_setopt(h, CURLOPT_SHARE, request.share->impl().share);
  if (request.cookieEngine) curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");

  Hop hop;
  hop.request = &request;
  hop.response = &response;
  hop.easy = h;
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &hop);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &hop);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &OnPrereq);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &hop);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &hop);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

  // The caller's lines, plus blank entries that keep libcurl from adding its own defaults.
  // A line "Name:" with nothing after the colon is written "Name;" so that it is sent.
  // With the cookie engine on, the caller's Cookie line joins the engine's cookies in one line
  // (two Cookie lines would reach the server on a redirect hop otherwise).
  std::vector<std::string> lines;
  std::string callerCookies;
  for (const std::string& line : request.headers) {
    std::string_view rest = line;
    if (request.cookieEngine && EqualsNoCase(HeaderName(line), "Cookie")) {
      std::string_view value = rest.substr(rest.find(':') + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      if (value.empty()) continue;
      if (!callerCookies.empty()) callerCookies += "; ";
      callerCookies += value;
      continue;
    }
    std::size_t colon = rest.find(':');
    std::string_view value = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (colon != std::string_view::npos && value.empty())
      lines.push_back(std::string(HeaderName(line)) + ";");
    else
      lines.push_back(line);
  }
  for (const char* name : {"Accept", "Expect", "Content-Type"})
    if (!HasHeader(request.headers, name)) lines.push_back(std::string(name) + ":");
  Slist headerList;
  for (const std::string& line : lines) {
    if (!Append(headerList, line)) {
      response.failure = CurlFailure::kConnect;
      response.error = "out of memory";
      return response;
    }
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
  if (!callerCookies.empty()) curl_easy_setopt(h, CURLOPT_COOKIE, callerCookies.c_str());

  std::string url = request.url;
  std::string method = request.method;
  bool sendBody = !request.body.empty() || request.contentLengthWhenEmpty;
  // Only credentials need the host: no URL parse otherwise.
  const std::string firstHost = request.user.empty() ? std::string() : UrlPart(url, CURLUPART_HOST);

  for (int hopIndex = 0;; ++hopIndex) {
    hop.block.clear();
    hop.blockDone = false;
    hop.headerBytes = 0;
    hop.stalled = false;
    hop.lastActivity = Clock::now();
    response.body.clear();
    response.bodyLimitReached = false;

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // Credentials go to the host they were given for only.
    if (!request.user.empty() && UrlPart(url, CURLUPART_HOST) == firstHost) {
      curl_easy_setopt(h, CURLOPT_USERNAME, request.user.c_str());
      curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.c_str());
      curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    } else {
      curl_easy_setopt(h, CURLOPT_USERNAME, nullptr);
      curl_easy_setopt(h, CURLOPT_PASSWORD, nullptr);
    }
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    if (method == "HEAD" && !sendBody) {
      curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
      if (sendBody) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.empty() ? "" : request.body.data());
      }
      if (method != (sendBody ? "POST" : "GET")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
        if (method == "HEAD") curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
      }
    }

    errorBuffer[0] = '\0';
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    response.finalUrl = url;

    if (code != CURLE_OK) {
      response.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
      response.timedOut = hop.stalled || code == CURLE_OPERATION_TIMEDOUT;
      if (hop.blockDone && !hop.headerOverflow) {
        response.failure = CurlFailure::kBody;
        response.headerBlock = hop.block;
      } else if (hopIndex == 0 && !hop.connected) {
        response.failure = CurlFailure::kConnect;
      } else if (hopIndex == 0 && code == CURLE_SEND_ERROR && hop.headerBytes == 0) {
        response.failure = CurlFailure::kConnect;
      } else {
        response.failure = CurlFailure::kResponse;
      }
      if (response.failure != CurlFailure::kBody) response.body.clear();
      return response;
    }
    if (!hop.blockDone) {
      response.failure = CurlFailure::kResponse;
      response.error = "no response header block";
      return response;
    }
    response.headerBlock = hop.block;

    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 ||
                          status == 308;
    if (!redirect || request.redirects == RedirectPolicy::kNever) return response;
    std::vector<std::string> locations = HeaderValues(hop.block, "Location");
    if (locations.empty()) return response;
    std::string next = ResolveLocation(url, locations.front());
    if (next.empty()) return response;
    const std::string scheme = UrlPart(next, CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return response;
    if (request.redirects == RedirectPolicy::kNotHttpsToHttp && IsHttps(url) && !IsHttps(next))
      return response;
    if (hopIndex >= request.maxRedirects) {
      response.failure = CurlFailure::kResponse;
      response.error = "too many redirects";
      response.headerBlock.clear();
      response.body.clear();
      return response;
    }
    // 303 always, and 301/302 after a POST, continue as GET without the body.
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
      method = "GET";
      sendBody = false;
    }
    url = next;
    ++response.redirectCount;
  }
}

}  // namespace sellmeter::curl
