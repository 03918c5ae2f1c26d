#include "http/compose_headers.h"

#include "text/gbk_text.h"

namespace sellmeter {
namespace {

struct DefaultLine {
  std::string_view searched;
  bool ignoreCase;
  std::string_view line;
};

constexpr DefaultLine kUserAgent{
    "User-Agent: ", true,
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"};
constexpr DefaultLine kAccept{"Accept: ", true,
                              "Accept: text/html, application/xhtml+xml, */*\r\n"};
constexpr DefaultLine kAcceptEncoding{"Accept-Encoding: ", true,
                                      "Accept-Encoding: gbk, GB2312\r\n"};
constexpr DefaultLine kAcceptLanguage{"Accept-Language: ", true, "Accept-Language: zh-cn\r\n"};
constexpr DefaultLine kContentType{"Content-Type:", false,
                                   "Content-Type: application/x-www-form-urlencoded\r\n"};
constexpr DefaultLine kCacheControl{"Cache-Control: ", true, "Cache-Control: no-cache\r\n"};

void AddUnlessPresent(Text& block, const DefaultLine& row) {
  if (FindText(block, row.searched, 1, row.ignoreCase) == 0) block.append(row.line);
}

}  // namespace

Text ComposeHeaders(std::string_view extraHeaders, int method, std::string_view cookies) {
  Text block(extraHeaders);
  if (!block.empty()) block.append("\r\n");
  AddUnlessPresent(block, kUserAgent);
  AddUnlessPresent(block, kAccept);
  AddUnlessPresent(block, kAcceptEncoding);
  AddUnlessPresent(block, kAcceptLanguage);
  if (method == 1) AddUnlessPresent(block, kContentType);
  AddUnlessPresent(block, kCacheControl);
  if (!cookies.empty() && FindText(block, "Cookie: ", 1, true) == 0) {
    block.append("Cookie: ");
    block.append(cookies);
    block.append("\r\n");
  }
  return block;
}

}  // namespace sellmeter
