#pragma once
// What sellmeter-query prints: the summary and the rows, as a table or as one JSON object.
// Every text is UTF-8 here.
#include <optional>
#include <string>
#include <vector>

#include "query/picture.h"

namespace sellmeter {

struct OutputSummary {
  std::string salesAmount, averageOrderValue, monthlySalesCount, itemsOnSale;
};

struct OutputPicture {
  PictureFormat format = PictureFormat::Jpeg;
  int width = 0, height = 0;  // the picture's own size
};

struct OutputRow {
  int number = 0;
  std::string pictureUrl, title, fixedPrice, discountPrice, monthlySales, reviewCount, monthlyTurnover;
  std::optional<OutputPicture> picture;
};

struct QueryResult {
  std::optional<OutputSummary> summary;
  std::vector<OutputRow> rows;
};

std::string FormatJson(const QueryResult& result);
std::string FormatTable(const QueryResult& result);

// A JSON string literal of UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view utf8);
// Columns a UTF-8 text takes on a terminal (East Asian wide characters count two).
int DisplayWidth(std::string_view utf8);

}  // namespace sellmeter
