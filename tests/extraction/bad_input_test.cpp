// Hostile and broken pages: the extraction gives its empty results and stays inside its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "query/report_extraction.h"

namespace sellmeter {
namespace {

Text Figure(const Text& value) { return "<span class=\"data\">" + value + "</span>"; }

Text Product(int n) {
  const Text id = std::to_string(n);
  return "<tr><td><img src=\"http://img/" + id + ".jpg\"></td>\n<td>item " + id +
         "</td>\n<td>1.00</td>\n<td>0.90</td>\n<td>5</td>\n<td>2</td>\n<td>4.50</td>\n</tr>\n";
}

struct Extracted {
  std::optional<SalesSummary> summary;
  std::vector<ReportRow> rows;
};

Extracted Extract(const Text& page) {
  RegexObject summaryRegex, rowRegex;
  return {ExtractSummary(page, summaryRegex), ExtractRows(page, rowRegex)};
}

TEST(BadPages, BinaryBytesGiveNothing) {
  Text page(1 << 20, '\0');
  std::uint32_t state = 12345;
  for (char& byte : page) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  Extracted e = Extract(page);
  EXPECT_FALSE(e.summary);
  EXPECT_TRUE(e.rows.empty());
  // Zero bytes are ordinary characters, not ends of the page.
  Extracted withZeros = Extract(Text("\0", 1) + Figure("1") + Figure("2") + Text("\0", 1) + Figure("3") + Figure("4"));
  EXPECT_EQ(withZeros.summary, (SalesSummary{"1", "2", "3", "4"}));
}

TEST(BadPages, PageCutInsideADoubleByteCharacter) {
  const Text figures = Figure("1") + Figure("2") + Figure("3") + Figure("4");
  for (const Text& tail : {Text("\xD6"), Text("<td>\xD6"), Text("<img src=\"\xD6")}) {
    Extracted e = Extract(figures + Product(1) + tail);
    EXPECT_EQ(e.summary, (SalesSummary{"1", "2", "3", "4"}));
    ASSERT_EQ(e.rows.size(), 1u);
    EXPECT_EQ(e.rows[0].pictureUrl, "http://img/1.jpg");
  }
}

TEST(BadPages, PicturesWithoutCellsGiveNoRows) {
  Text page;
  for (int i = 0; i < 50000; ++i) page += "<img src=\"http://img/x.jpg\"><td>open cell\n";
  EXPECT_TRUE(Extract(page).rows.empty());
  Text noCells;
  for (int i = 0; i < 50000; ++i) noCells += "<img src=\"a\"></td>\n";
  EXPECT_TRUE(Extract(noCells).rows.empty());
}

TEST(BadPages, HugePageKeepsEveryRow) {
  Text page = "<html>" + Figure("1") + Figure("2") + Figure("3") + Figure("4") + "<table>\n";
  const int products = 20000;
  for (int i = 0; i < products; ++i) page += Product(i) + Text(200, ' ');
  Extracted e = Extract(page);
  ASSERT_EQ(e.rows.size(), static_cast<std::size_t>(products));
  EXPECT_EQ(e.rows.back().pictureUrl, "http://img/" + std::to_string(products - 1) + ".jpg");
  EXPECT_EQ(e.rows.back().title, "item " + std::to_string(products - 1));
  EXPECT_TRUE(e.summary);
}

TEST(BadPatterns, SyntaxErrorsGiveEmptyResults) {
  RegexObject regex;
  for (const char* pattern : {"(", "[", "a{2,1}", "*", "\\", "(?<", "a)"}) {
    EXPECT_FALSE(regex.Search(pattern, Product(1))) << pattern;
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.SubMatchText(1, 1), "");
  }
}

}  // namespace
}  // namespace sellmeter
