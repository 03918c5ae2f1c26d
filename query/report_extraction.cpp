#include "query/report_extraction.h"

namespace sellmeter {

std::optional<SalesSummary> ExtractSummary(std::string_view page, RegexObject& regex) {
  regex.Search(SummaryPattern, page);
  if (regex.MatchCount() != 4) return std::nullopt;
  return SalesSummary{regex.SubMatchText(1, 1), regex.SubMatchText(2, 1), regex.SubMatchText(3, 1),
                      regex.SubMatchText(4, 1)};
}

std::vector<ReportRow> ExtractRows(std::string_view page, RegexObject& regex) {
  regex.Search(ProductRowPattern, page);
  const int count = regex.MatchCount();
  std::vector<ReportRow> rows;
  rows.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (int j = 1; j <= count; ++j) {
    rows.push_back(ReportRow{regex.SubMatchText(j, 1), regex.SubMatchText(j, 2), regex.SubMatchText(j, 3),
                             regex.SubMatchText(j, 4), regex.SubMatchText(j, 5), regex.SubMatchText(j, 6),
                             regex.SubMatchText(j, 7)});
  }
  return rows;
}

}  // namespace sellmeter
