#pragma once
// Re-decoding a page that declares a charset other than GBK in a meta tag.
#include <string_view>

#include "regex/regex_object.h"
#include "text/text_types.h"

namespace sellmeter {

// Searches the first 1024 bytes of `result` (the body up to its first zero byte) for
// <meta ... charset=NAME>; for a NAME other than "gbk" and "gb2312" (letter case counts) the
// whole `body` is decoded through an Adodb.Stream with that charset and `result` replaced by
// the text as GBK. A charset the stream refuses leaves `result` as it was. Holds one
// CoInitialize/CoUninitialize pair and dispatches waiting messages once the search ran.
// `body` may be `result` itself: it is read before `result` is replaced.
void DecodeDeclaredCharset(RegexObject& regex, std::string_view body, Text& result);

}  // namespace sellmeter
