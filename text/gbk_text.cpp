#include "text/gbk_text.h"

#include <cstring>

namespace sellmeter {
namespace {

// Width of the character that begins at position i: a lead byte with a byte after it makes a
// double-byte character; a lead byte at the very end stands alone.
std::size_t CharWidth(std::string_view text, std::size_t i) {
  return IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

unsigned char FoldAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 0x20) : byte;
}

// Compares needle with the text at a character boundary. Only single-byte characters are
// folded: the second byte of a double-byte character must match exactly, or the fold would
// equate two different characters (81 41 and 81 61).
bool MatchesFolded(const char* at, std::string_view needle) {
  std::size_t i = 0;
  while (i < needle.size()) {
    const auto a = static_cast<unsigned char>(at[i]);
    const auto b = static_cast<unsigned char>(needle[i]);
    if (IsGbkLeadByte(a) && i + 1 < needle.size()) {
      if (a != b || at[i + 1] != needle[i + 1]) return false;
      i += 2;
    } else {
      if (FoldAscii(a) != FoldAscii(b)) return false;
      ++i;
    }
  }
  return true;
}

bool IsBlankAt(std::string_view text, std::size_t i, std::size_t width) {
  return (width == 1 && text[i] == ' ') ||
         (width == 2 && text[i] == '\xA1' && text[i + 1] == '\xA1');
}

template <typename Map>
Text MapSingleBytes(std::string_view text, Map map) {
  Text out(text);
  for (std::size_t i = 0; i < out.size();) {
    const std::size_t width = CharWidth(out, i);
    if (width == 1) out[i] = static_cast<char>(map(static_cast<unsigned char>(out[i])));
    i += width;
  }
  return out;
}

}  // namespace

std::size_t FindText(std::string_view haystack, std::string_view needle, std::size_t start,
                     bool ignoreCase) {
  if (start < 1) start = 1;
  if (needle.empty() || start > haystack.size() || needle.size() > haystack.size() - (start - 1)) return 0;
  const std::size_t last = haystack.size() - needle.size();  // last 0-based position a match can begin
  std::size_t boundary = start - 1;                           // a character boundary
  if (!ignoreCase) {
    // Find a byte match first, then walk the characters up to it to see whether it begins one.
    std::size_t from = boundary;
    while (from <= last) {
      const std::size_t hit = haystack.find(needle, from);
      if (hit == std::string_view::npos) return 0;
      while (boundary < hit) boundary += CharWidth(haystack, boundary);
      if (boundary == hit) return hit + 1;
      from = boundary;  // the hit began on a second byte; resume at the next character
    }
    return 0;
  }
  for (; boundary <= last; boundary += CharWidth(haystack, boundary)) {
    if (MatchesFolded(haystack.data() + boundary, needle)) return boundary + 1;
  }
  return 0;
}

Text TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = 0;  // end of the last character that is not a blank
  bool leading = true;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t width = CharWidth(text, i);
    if (!IsBlankAt(text, i, width)) {
      if (leading) begin = i;
      leading = false;
      end = i + width;
    }
    i += width;
  }
  if (leading) return {};
  return Text(text.substr(begin, end - begin));
}

Text RemoveBlanks(std::string_view text) {
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t width = CharWidth(text, i);
    if (!IsBlankAt(text, i, width)) out.append(text.data() + i, width);
    i += width;
  }
  return out;
}

Text AsciiLower(std::string_view text) { return MapSingleBytes(text, FoldAscii); }

Text AsciiUpper(std::string_view text) {
  return MapSingleBytes(text, [](unsigned char byte) {
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 0x20) : byte;
  });
}

}  // namespace sellmeter
