#include "download/url_split.h"

#include <climits>
#include <cstdint>

#include "http/text_between.h"
#include "text/gbk_text.h"

namespace sellmeter {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads a decimal integer the way the port text is read: leading blanks (ASCII and the GBK
// full-width blank) and one sign, then digits up to the first non-digit; no digits give 0.
// Out-of-range values stop at the int limits instead of wrapping.
int ReadInteger(std::string_view text) {
  std::size_t i = 0;
  for (;;) {
    if (i < text.size() && text[i] == ' ') {
      ++i;
    } else if (i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xA1 &&
               static_cast<unsigned char>(text[i + 1]) == 0xA1) {
      i += 2;
    } else {
      break;
    }
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1)
      value = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

Text HostFromUrl(std::string_view url, bool keepPort) {
  Text w = AsciiLower(url);
  if (w.empty() || w.back() != '/') w += '/';
  Text host;
  if (StartsWith(w, "https://")) {
    host = TextBetween(w, "https://", "/");
  } else {
    // Not anchored: "host/?u=http://other/" gives "other".
    if (FindText(w, "http://") == 0) w.insert(0, "http://");
    host = TextBetween(w, "http://", "/");
  }
  if (!keepPort) {
    const std::size_t colon = FindText(host, ":");
    if (colon != 0) host.resize(colon - 1);
  }
  return host;
}

int PortFromUrl(std::string_view url) {
  const Text host = HostFromUrl(url, true);
  // The last ":" of the host; a ":" never is the second byte of a GBK character, but a search
  // from the front keeps that rule without a reverse walk.
  std::size_t last = 0;
  for (std::size_t at = FindText(host, ":"); at != 0; at = FindText(host, ":", at + 1)) last = at;
  if (last != 0) return ReadInteger(std::string_view(host).substr(last));
  return AsciiLower(url.substr(0, 5)) == "https" ? 443 : 80;
}

Text PathFromUrl(std::string_view url) {
  const Text host = HostFromUrl(url);
  std::size_t a = FindText(url, host, 1, true);
  if (a == 0) a = 1;
  const std::size_t b = FindText(url, "/", a);
  if (b == 0) return "/";
  return Text(url.substr(b - 1));
}

}  // namespace sellmeter
