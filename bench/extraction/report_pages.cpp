#include "report_pages.h"

#include <string>

namespace sellmeter::bench {
namespace {

// A few GBK words: 商品 (goods), 包邮 (free shipping), 新款 (new style), 正品 (genuine).
const char* const kWords[] = {"\xC9\xCC\xC6\xB7", "\xB0\xFC\xD3\xCA", "\xD0\xC2\xBF\xEE", "\xD5\xFD\xC6\xB7"};

Text Words(int seed, int count) {
  Text out;
  for (int i = 0; i < count; ++i) {
    out += kWords[(seed + i * 7) % 4];
    if (i % 5 == 4) out += ' ';
  }
  return out;
}

Text Header() {
  return "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n"
         "<title>" + Words(1, 6) + "</title>\n<link rel=\"stylesheet\" href=\"/css/report.css\"></head>\n<body>\n"
         "<div class=\"summary\">\n"
         "<div class=\"box\"><span class=\"caption\">" + Words(2, 4) + "</span><span class=\"data\">128,456.00</span></div>\n"
         "<div class=\"box\"><span class=\"caption\">" + Words(3, 5) + "</span><span class=\"data\">86.52</span></div>\n"
         "<div class=\"box\"><span class=\"caption\">" + Words(4, 5) + "</span><span class=\"data\">1485</span></div>\n"
         "<div class=\"box\"><span class=\"caption\">" + Words(5, 5) + "</span><span class=\"data\">312</span></div>\n"
         "</div>\n<table class=\"report\" cellspacing=\"0\" cellpadding=\"4\">\n";
}

Text Picture(int n) {
  const Text id = std::to_string(100000 + n);
  return "<tr class=\"item\" data-id=\"" + id + "\">\n<td class=\"pic\"><a href=\"https://item.example.com/item.htm?id=" + id +
         "\" target=\"_blank\"><img src=\"https://img.example.com/bao/uploaded/i" + std::to_string(n % 4) + "/" + id +
         ".jpg_60x60.jpg\" width=\"60\" height=\"60\" border=\"0\"></a></td>\n";
}

Text Cells(int n, int count) {
  const Text id = std::to_string(100000 + n);
  const Text cells[] = {"<a href=\"https://item.example.com/item.htm?id=" + id + "\" title=\"" + Words(n, 8) + "\">" +
                            Words(n, 12) + " " + id + "</a>",
                        std::to_string(50 + n % 400) + ".00", std::to_string(40 + n % 300) + ".50",
                        std::to_string(n % 90), std::to_string(n % 37), std::to_string((n % 90) * 40) + ".00"};
  Text out;
  for (int i = 0; i < count; ++i) out += "<td>" + cells[i] + "</td>\n";
  return out;
}

// Detail markup that follows each product: nothing in it opens a cell written "<td>".
Text Detail(int n, std::size_t bytes) {
  Text out = "</tr>\n<tr class=\"detail\"><td colspan=\"7\">\n";
  int line = 0;
  while (out.size() < bytes) {
    out += "<div class=\"desc line" + std::to_string(line % 9) + "\" style=\"color:#666;font-size:12px;margin:2px 0\">" +
           Words(n + line, 10) + " <a href=\"/shop/view.htm?sid=" + std::to_string(n * 31 + line) + "\">" + Words(line, 3) +
           "</a> &nbsp;|&nbsp; <span class=\"tag\">" + Words(n * line, 4) + "</span></div>\n";
    ++line;
  }
  return out + "</td></tr>\n";
}

Text Footer() { return "</table>\n<div class=\"foot\">" + Words(7, 20) + "</div>\n</body></html>\n"; }

template <typename Block>
Text Page(std::size_t bytes, Block block) {
  Text page = Header();
  page.reserve(bytes + 8192);
  for (int n = 0; page.size() < bytes; ++n) page += block(n);
  return page + Footer();
}

}  // namespace

Text RealisticPage(std::size_t bytes) {
  return Page(bytes, [](int n) {
    Text block = Picture(n) + Cells(n, 6);
    return block + Detail(n, 5000 - block.size());
  });
}

Text ShortBlocksPage(std::size_t bytes) {
  return Page(bytes, [](int n) { return Picture(n) + Cells(n, 3) + "</tr>\n"; });
}

Text OpenCellsPage(std::size_t bytes) {
  return Page(bytes, [](int n) {
    Text block = Picture(n);
    for (int i = 0; i < 6; ++i) block += "<td>" + Words(n + i, 6) + "\n" + std::to_string(n + i) + "</td>\n";
    return block + "</tr>\n";
  });
}

}  // namespace sellmeter::bench
