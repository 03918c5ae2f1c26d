#pragma once
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// Stands for a double quote inside the markers of TextBetween, so that callers can write a
// marker holding one.
inline constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";  // "#引号" in GBK

// The text between the first `left` found at or after the 1-based position `start` (below 1
// counts as 1) and the first `right` after it; the empty text when either is missing. Searches
// never match on the second byte of a GBK double-byte character; with ignoreCase only ASCII
// letters are folded.
Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 long long start = 1, bool ignoreCase = false);

// Every occurrence of `from` in text (byte for byte, left to right) replaced by `to`.
Text ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace sellmeter
