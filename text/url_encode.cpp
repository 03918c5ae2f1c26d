#include "text/url_encode.h"

#include <string>

#include "text/codepage.h"

namespace sellmeter {
namespace {

bool IsKeptSafe(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '.';
}

}  // namespace

Text UrlEncode(std::string_view text, bool keepSafe, bool asUtf8) {
  if (text.empty()) return {};
  Text utf8;
  std::string_view source = text;
  if (asUtf8) {
    utf8 = GbkToUtf8(text);
    source = utf8;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text out;
  out.reserve(source.size() * 3);
  for (const char c : source) {
    const auto byte = static_cast<unsigned char>(c);
    if (keepSafe && IsKeptSafe(byte)) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

Text ReportFormBody(std::string_view nickname) {
  return "nick=" + UrlEncode(nickname) + "&B1=%B2%E9%D1%AF%D2%B5%BC%A8";
}

}  // namespace sellmeter
