#pragma once
// One HTTP/1.1 exchange over libcurl, for the Linux layers of both request interfaces (the
// WinHTTP-shaped one here and the WinInet-shaped one of the picture download). No libcurl type
// crosses this header.
//
// What goes on the wire is the request line, the caller's header lines exactly as given, and
// only what the protocol itself needs: Host, Content-Length (when a body is sent or
// `contentLengthWhenEmpty` asks for it) and Authorization/Proxy-Authorization when credentials
// are given. libcurl's own defaults are switched off: no Accept, no Expect: 100-continue, no
// Content-Type for bodies, no content decoding (the body arrives as sent; chunked framing is
// removed), no proxy or no_proxy taken from the environment. HTTPS peers are checked against the
// system's certificate store; SSL_CERT_FILE / SSL_CERT_DIR, when set, name another one.
//
// Typical use:
//   CurlRequest request;
//   request.method = "POST";
//   request.url = "http://example.com/path?q=1";
//   request.headers = {"User-Agent: me", "Content-Type: text/plain"};
//   request.body = "hello";
//   request.redirects = RedirectPolicy::kNotHttpsToHttp;
//   CurlResponse response = PerformExchange(request);
//   if (response.failure == CurlFailure::kNone) use(response.headerBlock, response.body);
//
// Connections: without a `share` every exchange opens its own connection (redirect hops of one
// exchange reuse it). With a CurlShare made with `connections`, keep-alive connections are pooled
// in the share and reused by later exchanges to the same host; a process-wide pool is one
// long-lived CurlShare. Cookies: with `cookieEngine` the exchange keeps the cookies responses set
// and sends them on later redirect hops; with a share made with `cookies` the store lives in
// the share and spans exchanges (WinInet's process-wide store), otherwise it lives and dies
// with the exchange. With the engine on, a caller's "Cookie:" line is sent together with the
// engine's cookies as one Cookie line (engine cookies first). Shares may be used from several threads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sellmeter::curl {

class CurlShare {
 public:
  CurlShare(bool connections, bool cookies);
  ~CurlShare();
  CurlShare(const CurlShare&) = delete;
  CurlShare& operator=(const CurlShare&) = delete;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

enum class RedirectPolicy {
  kNever,            // the first response is the final one
  kAlways,           // http and https in both directions
  kNotHttpsToHttp,   // a redirect from https to http is not followed: its response is final
};

struct CurlRequest {
  std::string method = "GET";     // sent verbatim in the request line
  std::string url;                // absolute http:// or https:// URL, already escaped
  std::vector<std::string> headers;  // "Name: value" lines without line ends, in wire order
  std::string_view body;          // sent unchanged when non-empty
  bool contentLengthWhenEmpty = false;  // "Content-Length: 0" with an empty body

  // Bounds in milliseconds, each > 0. Connect covers name resolution, TCP and TLS set-up; send
  // and receive bound the longest pause while the request goes out and the response comes in
  // (checked about once a second, so a stall ends within the bound plus one second). total,
  // when > 0, caps the whole exchange.
  long connectTimeoutMs = 30000;
  long sendTimeoutMs = 30000;
  long receiveTimeoutMs = 30000;
  long totalTimeoutMs = 0;

  std::string proxy;              // "host[:port]" of an HTTP proxy; empty: direct connection
  std::string user, password;     // basic authentication at the server, when user is non-empty
  std::string proxyUser, proxyPassword;  // the same at the proxy

  RedirectPolicy redirects = RedirectPolicy::kNever;
  int maxRedirects = 10;
  bool cookieEngine = false;
  CurlShare* share = nullptr;

  // A response whose header block grows past maxHeaderBytes fails (kResponse); a body past
  // maxBodyBytes ends the transfer with the first maxBodyBytes bytes kept (kBody).
  std::size_t maxHeaderBytes = std::size_t{1} << 20;
  std::size_t maxBodyBytes = std::size_t{64} << 20;
};

enum class CurlFailure {
  kNone,
  kConnect,   // resolve, connect, TLS or sending failed: no response at all
  kResponse,  // the request went out but no complete response header block came back
  kBody,      // the header block came, the body did not end properly (kept: what arrived)
};

struct CurlResponse {
  CurlFailure failure = CurlFailure::kNone;
  std::string error;         // libcurl's message for a failure
  bool timedOut = false;     // the failure was a timeout
  int status = 0;
  // The final response's header block as received, line ends made CRLF: status line, header
  // lines, then an empty line. Empty unless a complete block arrived.
  std::string headerBlock;
  std::vector<std::uint8_t> body;
  bool bodyLimitReached = false;
  std::string finalUrl;      // the URL of the final response
  int redirectCount = 0;
};

CurlResponse PerformExchange(const CurlRequest& request);

// "name: value" lookup in a header block, the name compared ignoring ASCII case; the value
// without leading blanks. Each match in order.
std::vector<std::string> HeaderValues(std::string_view headerBlock, std::string_view name);

}  // namespace sellmeter::curl
