#pragma once
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// Percent-encodes every byte of text ("%XX", upper-case digits); with keepSafe the 64 bytes
// A-Z a-z 0-9 - . pass unchanged; with asUtf8 the text is first converted with GbkToUtf8.
Text UrlEncode(std::string_view text, bool keepSafe = false, bool asUtf8 = false);

// The report form body the query posts for a nickname.
Text ReportFormBody(std::string_view nickname);

}  // namespace sellmeter
