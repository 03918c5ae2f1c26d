#pragma once
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

// The request header block: the caller's lines (with "\r\n" appended when there are any), then
// each default line whose name the block does not already hold anywhere (a plain substring
// search): User-Agent, Accept, Accept-Encoding, Accept-Language, Content-Type (POST only, and
// searched with its letter case), Cache-Control, and Cookie when `cookies` is non-empty. The
// block always ends with "\r\n".
Text ComposeHeaders(std::string_view extraHeaders, int method, std::string_view cookies);

}  // namespace sellmeter
