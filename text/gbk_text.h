#pragma once
// Byte-level text helpers that respect GBK double-byte characters.
#include <cstddef>
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// True for a byte that opens a GBK double-byte character (0x81-0xFE).
constexpr bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// 1-based position of the first occurrence of needle in haystack at or after the 1-based
// position start, walking character by character from start so that no match begins on the
// second byte of a double-byte character; with ignoreCase only ASCII letters that stand as
// characters of their own are folded (never the second byte of a double-byte character).
// A start below 1 counts as 1. 0 when not found, and for an empty needle.
std::size_t FindText(std::string_view haystack, std::string_view needle, std::size_t start = 1,
                     bool ignoreCase = false);

// The two blanks are the ASCII space and the GBK full-width blank A1 A1.
Text TrimBlanks(std::string_view text);
Text RemoveBlanks(std::string_view text);

// Change A-Z / a-z where they stand as characters of their own; double-byte characters stay.
Text AsciiLower(std::string_view text);
Text AsciiUpper(std::string_view text);

}  // namespace sellmeter
