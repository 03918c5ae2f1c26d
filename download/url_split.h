#pragma once
// Splitting a picture URL into the server name, port and object path that the WinInet calls
// take separately. These are text operations (lower-casing, searches, TextBetween), not a URL
// parser: unusual URLs give exactly what those steps give, and never fail.
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// The host in lower case: the text after "https://" (when the URL starts with it) or after
// the first "http://" (one is assumed in front when there is none), up to the next "/".
// Without keepPort it is cut before its first ":".
Text HostFromUrl(std::string_view url, bool keepPort = false);

// The number after the last ":" of the host (leading blanks and a sign allowed, 0 without
// digits); without a ":" 443 for a URL starting with "https" and 80 otherwise.
int PortFromUrl(std::string_view url);

// The URL from the first "/" at or after the host, letter case kept, query and fragment
// included; "/" when there is none.
Text PathFromUrl(std::string_view url);

}  // namespace sellmeter
