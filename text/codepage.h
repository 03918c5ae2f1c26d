#pragma once
// The five conversions between GBK texts, UTF-16 wide bytes and UTF-8, all through CodePages().
#include <string>
#include <string_view>

#include "text/codepage_api.h"
#include "text/text_types.h"

namespace sellmeter {

ByteArray TextToWide(std::string_view text, unsigned codePage = kCpUtf8);
Text WideToText(const ByteArray& wide, unsigned codePage = kCpAcp);
Text GbkToUtf8(std::string_view text);
ByteArray GbkToWide(std::string_view text, bool noTerminator = false);
Text WideToGbk(const ByteArray& wide);

// Edge helpers for code that works on UTF-16 directly (the regex engine, the HTTP layer, the
// window): the same conversions without the wide-bytes detour. No terminator either way.
std::u16string TextToU16(std::string_view text, unsigned codePage = kCpGbk);
Text U16ToText(std::u16string_view wide, unsigned codePage = kCpGbk);

}  // namespace sellmeter
