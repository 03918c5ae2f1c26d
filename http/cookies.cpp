#include "http/cookies.h"

#include <algorithm>

#include "http/text_between.h"
#include "text/gbk_text.h"

namespace sellmeter {
namespace {

constexpr std::string_view kSetCookie = "Set-Cookie";
constexpr std::string_view kDeleted = "=deleted";

// Every occurrence of `needle` (ASCII letters folded, no match on a GBK trail byte) removed.
Text RemoveAllIgnoringCase(std::string_view text, std::string_view needle) {
  Text out;
  std::size_t at = 1;  // 1-based
  for (;;) {
    std::size_t hit = FindText(text, needle, at, true);
    if (hit == 0) break;
    out.append(text.substr(at - 1, hit - at));
    at = hit + needle.size();
  }
  if (at - 1 < text.size()) out.append(text.substr(at - 1));
  return out;
}

}  // namespace

std::vector<std::string_view> SplitItems(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> items;
  if (text.empty() || separator.empty()) {
    if (!text.empty()) items.push_back(text);
    return items;
  }
  std::size_t at = 0;
  for (;;) {
    std::size_t hit = text.find(separator, at);
    if (hit == std::string_view::npos) {
      if (at < text.size()) items.push_back(text.substr(at));
      break;
    }
    items.push_back(text.substr(at, hit - at));
    at = hit + separator.size();
  }
  return items;
}

void NormalizeSetCookie(Text& headers) {
  Text out;
  out.reserve(headers.size());
  std::size_t at = 1;
  for (;;) {
    std::size_t hit = FindText(headers, kSetCookie, at, true);
    if (hit == 0) break;
    out.append(headers, at - 1, hit - at);
    out.append(kSetCookie);
    at = hit + kSetCookie.size();
  }
  if (at - 1 < headers.size()) out.append(headers, at - 1, std::string::npos);
  headers.swap(out);
}

void AppendSetCookieItem(std::string_view line, CookieText& collected) {
  if (FindText(line, kSetCookie) == 0) return;
  Text item;
  if (line.find(';') != std::string_view::npos) {
    item = TextBetween(line, "Set-Cookie:", ";");
  } else {
    item = RemoveAllIgnoringCase(line, "Set-Cookie:");
  }
  collected += TrimBlanks(item);
  collected += "; ";
}

CookieText CollectSetCookies(Text& headers) {
  NormalizeSetCookie(headers);
  CookieText result;
  for (std::string_view line : SplitItems(headers, "\r\n")) AppendSetCookieItem(line, result);
  if (result.size() >= 2) result.resize(result.size() - 2);
  return result;
}

Text CookieName(std::string_view item) {
  std::size_t eq = item.find('=');
  return TrimBlanks(eq == std::string_view::npos ? item : item.substr(0, eq));
}

Text RemoveDuplicateItems(std::string_view text, std::string_view separator) {
  if (text.empty()) return {};
  std::vector<std::string_view> kept;
  Text out;
  for (std::string_view item : SplitItems(text, separator)) {
    if (std::find(kept.begin(), kept.end(), item) != kept.end()) continue;
    kept.push_back(item);
    out.append(item);
    out.append(separator);
  }
  if (out.size() >= separator.size()) out.resize(out.size() - separator.size());
  return out;
}

CookieText MergeCookies(CookieText& sent, CookieText& fresh) {
  sent = RemoveBlanks(sent);
  fresh = RemoveBlanks(fresh);
  std::vector<std::string_view> list = SplitItems(fresh, ";");
  std::vector<Text> names;
  names.reserve(list.size());
  for (std::string_view item : list) names.push_back(CookieName(item));
  for (std::string_view item : SplitItems(sent, ";")) {
    Text name = CookieName(item);
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    list.push_back(item);
    names.push_back(std::move(name));
  }
  Text merged;
  for (std::string_view item : list) {
    if (item.size() >= kDeleted.size() && item.substr(item.size() - kDeleted.size()) == kDeleted)
      continue;
    merged.append(item);
    merged.append("; ");
  }
  if (merged.size() >= 2) merged.resize(merged.size() - 2);
  Text result = RemoveDuplicateItems(merged, "; ");
  sent = result;  // `list` views into the blank-free `sent` and `fresh`: written only now
  return result;
}

}  // namespace sellmeter
