#pragma once
// The picture download: one HTTP or HTTPS request over the WinInet-shaped interface
// (download/wininet_api.h). It reports no failure: a step that fails yields fewer bytes.
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// The ten optional arguments after the URL, in calling order. A default-constructed struct is
// "every argument omitted". Pointer fields are the caller's variables: nullptr means omitted
// (an out value is then discarded, an in value reads as its default).
struct InetRequestOptions {
  // Index into the method table, 0 "GET" to 7 "CONNECT"; out of range counts as 0.
  int method = 0;
  // Request body as text; sent when bodyBytes is empty and the method is not 0.
  Text body;
  // In and out. Given (even empty): WinInet's own cookie handling is off for the request and,
  // with autoMergeCookies, the response's cookies are merged into it. Omitted: the process-wide
  // cookie store adds and keeps cookies, and nothing is merged.
  Text* cookies = nullptr;
  // Out: the cookies the response sets ("name=value; ...").
  Text* cookiesOut = nullptr;
  // In and out: the caller's header lines, separated by "\r\n"; on return the whole block sent.
  Text* extraHeaders = nullptr;
  // Out: the raw response header block.
  Text* responseHeaders = nullptr;
  // True stops redirects from being followed.
  bool noRedirect = false;
  // In and out: the request body as bytes, preferred over body; when it is empty and a body is
  // sent, the caller's variable receives the bytes of body.
  ByteArray* bodyBytes = nullptr;
  // Proxy address; empty means a direct connection.
  Text proxy;
  // Merge the response's cookies with cookies (only when cookies is given).
  bool autoMergeCookies = true;
};

// Out arguments are written only once the request handle has been opened; before that they
// keep what they held. Returns the response body as received, whatever its status.
ByteArray InetRequest(std::string_view url, const InetRequestOptions& options = {});

}  // namespace sellmeter
