#include "http/text_between.h"

#include "text/gbk_text.h"

namespace sellmeter {

Text ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return Text(text);
  Text out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (;;) {
    std::size_t hit = text.find(from, at);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(at, hit - at));
    out.append(to);
    at = hit + from.size();
  }
  out.append(text.substr(at));
  return out;
}

Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 long long start, bool ignoreCase) {
  const Text l = ReplaceAll(left, kQuotePlaceholder, "\"");
  const Text r = ReplaceAll(right, kQuotePlaceholder, "\"");
  if (start < 1) start = 1;
  if (static_cast<unsigned long long>(start) > text.size() + 1) return {};
  const std::size_t p = FindText(text, l, static_cast<std::size_t>(start), ignoreCase);
  if (p == 0) return {};
  const std::size_t s = p + l.size();
  const std::size_t e = FindText(text, r, s, ignoreCase);
  if (e == 0 || e < s) return {};
  return Text(text.substr(s - 1, e - s));
}

}  // namespace sellmeter
