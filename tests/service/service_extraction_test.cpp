// The service's pages read with the program's own two patterns.
#include <gtest/gtest.h>

#include "query/report_extraction.h"
#include "service/report_page.h"

namespace sellmeter::service {
namespace {

TEST(ServicePagesExtract, SummaryAndEveryRowComeOutAsRendered) {
  for (const std::string& nick : {std::string("abc"), Utf8ToGbk("张三的小店"), std::string()}) {
    const ServiceOptions options;
    const auto report = MakeReport(nick, options);
    const auto page = RenderReportPage(nick, report, "http://127.0.0.1:1", options);
    RegexObject summaryRegex, rowRegex;
    const auto summary = ExtractSummary(page, summaryRegex);
    ASSERT_TRUE(summary) << nick;
    EXPECT_EQ(*summary, (SalesSummary{report.salesAmount, report.averageOrderValue, report.monthlySalesCount,
                                      report.itemsOnSale}));
    const auto rows = ExtractRows(page, rowRegex);
    ASSERT_EQ(rows.size(), report.products.size());
    bool linked = false, plain = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const ProductEntry& p = report.products[i];
      EXPECT_EQ(rows[i].pictureUrl, "http://127.0.0.1:1" + PicturePath(p.picture));
      const std::string title = Utf8ToGbk(p.title);
      if (p.linked) {
        linked = true;
        EXPECT_EQ(rows[i].title.substr(0, 9), "<a href=\"");
        EXPECT_EQ(rows[i].title.substr(rows[i].title.size() - title.size() - 4), title + "</a>");
      } else {
        plain = true;
        EXPECT_EQ(rows[i].title, title);
      }
      EXPECT_EQ(rows[i].fixedPrice, p.fixedPrice);
      EXPECT_EQ(rows[i].discountPrice, p.discountPrice);
      EXPECT_EQ(rows[i].monthlySales, p.monthlySales);
      EXPECT_EQ(rows[i].reviewCount, p.reviewCount);
      EXPECT_EQ(rows[i].monthlyTurnover, p.monthlyTurnover);
    }
    EXPECT_TRUE(rows.size() < 4 || (linked && plain)) << "titles with and without links";
  }
}

TEST(ServicePagesExtract, ThousandsOfRows) {
  ServiceOptions options;
  options.products = 3000;
  const auto report = MakeReport("big", options);
  const auto page = RenderReportPage("big", report, "http://h", options);
  RegexObject regex;
  const auto rows = ExtractRows(page, regex);
  ASSERT_EQ(rows.size(), 3000u);
  EXPECT_EQ(rows.back().monthlyTurnover, report.products.back().monthlyTurnover);
}

}  // namespace
}  // namespace sellmeter::service
