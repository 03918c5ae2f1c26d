#include "tools/query/query_output.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace sellmeter {

namespace {

// Decodes one UTF-8 sequence at text[i]; advances i; -1 for a malformed one (one byte eaten).
long NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int length;
  long cp;
  if (lead < 0x80) return ++i, lead;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, cp = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, cp = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, cp = lead & 0x07;
  else return ++i, -1;
  if (i + static_cast<std::size_t>(length) > text.size()) return ++i, -1;
  for (int k = 1; k < length; ++k) {
    const unsigned char c = byte(i + static_cast<std::size_t>(k));
    if ((c & 0xC0) != 0x80) return ++i, -1;
    cp = cp << 6 | (c & 0x3F);
  }
  static constexpr long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return ++i, -1;
  i += static_cast<std::size_t>(length);
  return cp;
}

bool IsWide(long cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0x33FF) ||
         (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

std::string Pad(const std::string& text, int width) {
  return text + std::string(static_cast<std::size_t>(std::max(0, width - DisplayWidth(text))), ' ');
}

std::string PictureText(const std::optional<OutputPicture>& picture) {
  if (!picture) return "-";
  return std::string(PictureFormatName(picture->format)) + " " + std::to_string(picture->width) + "x" +
         std::to_string(picture->height);
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const long cp = NextCodePoint(utf8, i);
    width += cp >= 0 && IsWide(cp) ? 2 : 1;
  }
  return width;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const long cp = NextCodePoint(utf8, i);
    if (cp < 0) {
      out += "\xEF\xBF\xBD";
    } else if (cp == '"') {
      out += "\\\"";
    } else if (cp == '\\') {
      out += "\\\\";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || cp == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(cp));
      out += buffer;
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out + "\"";
}

std::string FormatJson(const QueryResult& result) {
  std::string out = "{\"summary\":";
  if (result.summary) {
    const OutputSummary& s = *result.summary;
    out += "{\"salesAmount\":" + JsonString(s.salesAmount) + ",\"averageOrderValue\":" +
           JsonString(s.averageOrderValue) + ",\"monthlySalesCount\":" + JsonString(s.monthlySalesCount) +
           ",\"itemsOnSale\":" + JsonString(s.itemsOnSale) + "}";
  } else {
    out += "null";
  }
  out += ",\"rows\":[";
  for (std::size_t i = 0; i < result.rows.size(); ++i) {
    const OutputRow& r = result.rows[i];
    if (i) out += ",";
    out += "{\"number\":" + std::to_string(r.number) + ",\"pictureUrl\":" + JsonString(r.pictureUrl) +
           ",\"title\":" + JsonString(r.title) + ",\"fixedPrice\":" + JsonString(r.fixedPrice) +
           ",\"discountPrice\":" + JsonString(r.discountPrice) + ",\"monthlySales\":" + JsonString(r.monthlySales) +
           ",\"reviewCount\":" + JsonString(r.reviewCount) + ",\"monthlyTurnover\":" + JsonString(r.monthlyTurnover) +
           ",\"picture\":";
    if (r.picture) {
      out += "{\"format\":" + JsonString(PictureFormatName(r.picture->format)) +
             ",\"width\":" + std::to_string(r.picture->width) + ",\"height\":" + std::to_string(r.picture->height) + "}";
    } else {
      out += "null";
    }
    out += "}";
  }
  return out + "]}\n";
}

std::string FormatTable(const QueryResult& result) {
  std::string out;
  static const char* const kCaptions[] = {"销售金额", "平均客单价", "月销售数量", "在线商品数"};
  const std::array<std::string, 4> values =
      result.summary ? std::array<std::string, 4>{result.summary->salesAmount, result.summary->averageOrderValue,
                                                  result.summary->monthlySalesCount, result.summary->itemsOnSale}
                     : std::array<std::string, 4>{"-", "-", "-", "-"};
  for (int i = 0; i < 4; ++i) out += Pad(kCaptions[i], 12) + values[static_cast<std::size_t>(i)] + "\n";
  out += "\n";

  std::vector<std::array<std::string, 8>> lines;
  lines.push_back({"序号", "图片", "标题", "一口价", "优惠价", "月销数量", "评论数", "月销售额"});
  for (const OutputRow& r : result.rows)
    lines.push_back({std::to_string(r.number), PictureText(r.picture), r.title, r.fixedPrice, r.discountPrice,
                     r.monthlySales, r.reviewCount, r.monthlyTurnover});
  std::array<int, 8> widths{};
  for (const auto& line : lines)
    for (std::size_t c = 0; c < 8; ++c) widths[c] = std::max(widths[c], DisplayWidth(line[c]));
  for (const auto& line : lines) {
    std::string text;
    for (std::size_t c = 0; c < 8; ++c) text += c + 1 < 8 ? Pad(line[c], widths[c] + 2) : line[c];
    out += text + "\n";
  }
  if (result.rows.empty()) out += "(no rows)\n";
  return out;
}

}  // namespace sellmeter
