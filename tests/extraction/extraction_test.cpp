#include "query/report_extraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sellmeter {
namespace {

Text Figure(const Text& value) { return "<span class=\"data\">" + value + "</span>"; }

// One product block of the report table: a picture and six cells, one per line.
Text Product(const Text& picture, const std::vector<Text>& cells) {
  Text block = "<tr>\n<td><img src=\"" + picture + "\" width=\"60\"></td>\n";
  for (const Text& cell : cells) block += "<td>" + cell + "</td>\n";
  return block + "</tr>\n";
}

ReportRow Row(const Text& picture, const std::vector<Text>& c) {
  return ReportRow{picture, c.at(0), c.at(1), c.at(2), c.at(3), c.at(4), c.at(5)};
}

std::optional<SalesSummary> Summary(const Text& page) {
  RegexObject regex;
  return ExtractSummary(page, regex);
}

std::vector<ReportRow> Rows(const Text& page) {
  RegexObject regex;
  return ExtractRows(page, regex);
}

TEST(ReportPatterns, AreTheExactTexts) {
  EXPECT_EQ(SummaryPattern, "\"data\">([^<]+)</span>");
  EXPECT_EQ(ProductRowPattern.substr(0, 16), "<img src=\"(.*?)\"");
  for (std::size_t block = 0; block < 6; ++block)
    EXPECT_EQ(ProductRowPattern.substr(16 + 22 * block, 22), "[\\s\\S]*?<td>(.*?)</td>");
}

TEST(ExtractSummary, TakesExactlyFourFiguresInPageOrder) {
  const Text four = "<div>" + Figure("12,345.00") + "\n<p>x</p>" + Figure("56.7") + Figure("218") +
                    "\n" + Figure("\xD2\xBB\xB0\xD9 ") + "</div>";
  EXPECT_EQ(Summary(four), (SalesSummary{"12,345.00", "56.7", "218", "\xD2\xBB\xB0\xD9 "}));

  const Text three = Figure("1") + Figure("2") + Figure("3");
  EXPECT_EQ(Summary(three), std::nullopt);
  EXPECT_EQ(Summary(three + Figure("4") + Figure("5")), std::nullopt);
  EXPECT_EQ(Summary(""), std::nullopt);
}

TEST(ExtractSummary, FigureWithANestedTagDoesNotCount) {
  const Text page = Figure("1") + Figure("<b>2</b>") + Figure("3") + Figure("4");
  EXPECT_EQ(Summary(page), std::nullopt);
  // The match needs the attribute to end its tag, then "</span>" right after the figure.
  EXPECT_EQ(Summary(Figure("1") + Figure("2") + Figure("3") + "<span class=\"data\" id=\"x\">4</span>" +
                    "<span class=\"DATA\">5</SPAN>"),
            (SalesSummary{"1", "2", "3", "5"}));
}

TEST(ExtractRows, OneRowPerPictureWithTheSixCellsAfterIt) {
  const std::vector<Text> a = {"<a href=\"/item?id=1\">Title &amp; more</a>", " 99.00 ", "79.00", "12", "3", "948.00"};
  const std::vector<Text> b = {"\xC9\xCF\xD2\xC2", "10", "", "0", "0", "0.00"};
  const Text page = "<table>\n" + Product("http://img/a.jpg", a) + Product("http://img/b.jpg", b) + "</table>";
  EXPECT_EQ(Rows(page), (std::vector<ReportRow>{Row("http://img/a.jpg", a), Row("http://img/b.jpg", b)}));
}

TEST(ExtractRows, LogoBeforeTheTableBecomesTheFirstRow) {
  const std::vector<Text> a = {"t1", "1", "2", "3", "4", "5"};
  const std::vector<Text> b = {"t2", "6", "7", "8", "9", "10"};
  const Text page = "<div><img src=\"/logo.png\"></div>\n<table>\n" + Product("p1", a) + Product("p2", b);
  // The logo takes the first six cells after it, the first product's picture cell among them;
  // that picture lies inside the logo's match and starts no row of its own.
  EXPECT_EQ(Rows(page), (std::vector<ReportRow>{Row("/logo.png", {"<img src=\"p1\" width=\"60\">", "t1", "1", "2", "3", "4"}),
                                                Row("p2", b)}));
}

TEST(ExtractRows, ShortBlockTakesCellsFromTheBlocksAfterIt) {
  const Text page = Product("p1", {"t1", "1", "2"}) + Product("p2", {"t2", "3", "4", "5", "6", "7"}) +
                    Product("p3", {"t3", "8", "9", "10", "11", "12"});
  // The short block borrows the next block's picture cell and first cells, so the second
  // product starts no row and the third is matched from its own picture again.
  std::vector<ReportRow> rows = Rows(page);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], Row("p1", {"t1", "1", "2", "<img src=\"p2\" width=\"60\">", "t2", "3"}));
  EXPECT_EQ(rows[1], Row("p3", {"t3", "8", "9", "10", "11", "12"}));
}

TEST(ExtractRows, CapitalTagsMatch) {
  const Text page = "<TR><TD><IMG SRC=\"P.JPG\"></TD>\n<TD>A</TD><TD>B</TD>\n<Td>C</tD><TD>D</TD><TD>E</TD><TD>F</TD>";
  EXPECT_EQ(Rows(page), (std::vector<ReportRow>{Row("P.JPG", {"A", "B", "C", "D", "E", "F"})}));
}

TEST(ExtractRows, CellAcrossALineBreakIsSkipped) {
  const Text page = "<img src=\"p\">\n<td>one\nline two</td>\n<td>a</td><td>b</td><td>c</td><td>d</td><td>e</td><td>f</td>";
  EXPECT_EQ(Rows(page), (std::vector<ReportRow>{Row("p", {"a", "b", "c", "d", "e", "f"})}));
}

TEST(ExtractRows, PictureAddressStaysOnItsLineAndCellsAreLazy) {
  // The address may not cross a line; each cell ends at its first "</td>".
  const Text page = "<img src=\"broken\n\"><img src=\"ok\"><td>1</td></td><td>2</td><td>3</td><td>4</td><td>5</td><td>6</td>";
  EXPECT_EQ(Rows(page), (std::vector<ReportRow>{Row("ok", {"1", "2", "3", "4", "5", "6"})}));
}

TEST(ExtractRows, PageWithoutRowsGivesNone) {
  EXPECT_TRUE(Rows("").empty());
  EXPECT_TRUE(Rows(Product("p1", {"a", "b", "c", "d", "e"})).empty());
}

}  // namespace
}  // namespace sellmeter
