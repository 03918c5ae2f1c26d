#pragma once
// Cookies travel between requests as one CookieText: "name=value" items joined by "; ".
#include <string_view>
#include <vector>

#include "text/text_types.h"

namespace sellmeter {

using CookieText = Text;

// Rewrites every "Set-Cookie" of `headers`, in any ASCII letter case, as "Set-Cookie" (the
// caller's variable keeps the rewritten block) and returns the items the response sets, in
// response order, without their attributes.
CookieText CollectSetCookies(Text& headers);

// The two halves of CollectSetCookies for callers that walk the header lines themselves:
// the letter-case rewrite, and the item one line contributes ("" plus "; " appended to
// `collected` when the line holds "Set-Cookie"; nothing otherwise).
void NormalizeSetCookie(Text& headers);
void AppendSetCookieItem(std::string_view line, CookieText& collected);

// Merges the cookies sent with the ones the response set: the fresh items first, then every
// sent item whose name the response did not set; "=deleted" items drop out, exact repeats go.
// Leaves the merged text in `sent` and a blank-free copy of `fresh` in `fresh`.
CookieText MergeCookies(CookieText& sent, CookieText& fresh);

// The text before the first "=" (the whole item without one), blanks trimmed at both ends.
Text CookieName(std::string_view item);

// `text` split at `separator` with every item that repeats an earlier one byte for byte
// removed, joined again.
Text RemoveDuplicateItems(std::string_view text, std::string_view separator);

// `text` split at every `separator`: empty items between adjacent separators stay, an empty
// rest after the last separator is dropped, and the empty text gives no items.
std::vector<std::string_view> SplitItems(std::string_view text, std::string_view separator);

}  // namespace sellmeter
