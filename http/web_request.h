#pragma once
// The web request engine: one synchronous HTTP or HTTPS exchange over the WinHTTP-shaped
// interface (http/winhttp_api.h), with default headers, cookies, credentials, proxy, timeouts,
// redirects and charset re-decoding of the page.
#include <string_view>

#include "http/cookies.h"
#include "text/text_types.h"

namespace sellmeter {

// The seventeen optional arguments after the URL, in calling order. A default-constructed
// struct is "every argument omitted". Pointer fields are the caller's variables: nullptr means
// omitted, and an omitted out argument's value is discarded. An out variable is written only
// when the request reaches the step that produces its value; until then it keeps what it held.
struct WebRequestOptions {
  // Index into the method table, 0 "GET" to 7 "CONNECT"; out of range selects "GET".
  int method = 0;
  // Request body; its bytes are sent unchanged.
  Text body;
  // In and out. Given (even empty): WinHTTP's own cookie handling stays on for the request
  // and, with autoMergeCookies, the variable receives the merged cookies. Omitted: WinHTTP's
  // cookie handling is switched off and nothing is merged. Non-empty: sent as "Cookie: ".
  CookieText* cookies = nullptr;
  // Out: the cookies the response sets (merged with cookies when that is given).
  CookieText* cookiesOut = nullptr;
  // The caller's header lines, separated by "\r\n", no line end after the last.
  Text extraHeaders;
  // Out: the response header block, "Set-Cookie" spelled in this letter case.
  Text* responseHeaders = nullptr;
  // True switches automatic redirect following off.
  bool noRedirect = false;
  // Basic authentication at the server; set only when both are non-empty.
  Text user;
  Text password;
  // Proxy server as a WinHTTP proxy list takes it ("host:port"); empty is a direct connection.
  Text proxy;
  // Basic authentication at the proxy; set only when both are non-empty.
  Text proxyUser;
  Text proxyPassword;
  // One timeout for resolve, connect, send and receive; 0 or less means 30 seconds.
  int timeoutSeconds = 0;
  // Out: the value of the response's (last) "Location: " line; untouched when it has none.
  Text* location = nullptr;
  // Out: "<code> <reason>" of the response, or a failure text "700 ..." to "713 ...".
  Text* status = nullptr;
  // Out: the response body exactly as received, zero bytes included.
  ByteArray* responseBytes = nullptr;
  // Merge the response's cookies into cookies (only when cookies is given).
  bool autoMergeCookies = true;
};

// Returns the response body as GBK text (re-decoded when the page declares another charset in
// a meta tag), or the empty text when the request fails.
Text WebRequest(std::string_view url, const WebRequestOptions& options = {});

}  // namespace sellmeter
