#pragma once
// The figures and product rows of the report page, taken by two patterns through a
// RegexObject; every field holds its captured text unchanged (no entity decoding, no trimming).
#include <optional>
#include <string_view>
#include <vector>

#include "regex/regex_object.h"
#include "text/text_types.h"

namespace sellmeter {

// The end of an attribute value "data" that ends its tag, then the figure up to "</span>".
inline constexpr std::string_view SummaryPattern = "\"data\">([^<]+)</span>";
// A picture's source address, then the next six table cells, each on one line.
inline constexpr std::string_view ProductRowPattern =
    "<img src=\"(.*?)\""
    "[\\s\\S]*?<td>(.*?)</td>"
    "[\\s\\S]*?<td>(.*?)</td>"
    "[\\s\\S]*?<td>(.*?)</td>"
    "[\\s\\S]*?<td>(.*?)</td>"
    "[\\s\\S]*?<td>(.*?)</td>"
    "[\\s\\S]*?<td>(.*?)</td>";
static_assert(SummaryPattern.size() == 21);
static_assert(ProductRowPattern.size() == 148);

// The four figures, in page order.
struct SalesSummary {
  Text salesAmount;
  Text averageOrderValue;
  Text monthlySalesCount;
  Text itemsOnSale;
  bool operator==(const SalesSummary&) const = default;
};

// The seven groups of one product match, in group order.
struct ReportRow {
  Text pictureUrl;
  Text title;
  Text fixedPrice;
  Text discountPrice;
  Text monthlySales;
  Text reviewCount;
  Text monthlyTurnover;
  bool operator==(const ReportRow&) const = default;
};

// The summary when the page has exactly four figures; nothing otherwise (none, fewer, more,
// or a search that could not run).
std::optional<SalesSummary> ExtractSummary(std::string_view page, RegexObject& regex);

// One row per match of the product pattern, in page order; none when the search fails.
std::vector<ReportRow> ExtractRows(std::string_view page, RegexObject& regex);

}  // namespace sellmeter
