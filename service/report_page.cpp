#include "service/report_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iterator>

#include "service/picture_maker.h"

namespace sellmeter::service {

namespace {

std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x21F0AAADu;
  x ^= x >> 15;
  x *= 0x735A2D97u;
  x ^= x >> 15;
  return x;
}

// Deterministic stream of numbers for one seller.
class Dice {
 public:
  explicit Dice(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() { return Mix(state_ += 0x9E3779B9u); }
  int Between(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1)); }

 private:
  std::uint32_t state_;
};

std::string Money(long long cents) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%02lld", cents / 100, cents % 100);
  return buffer;
}

std::string Convert(std::string_view in, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  char buffer[4096];
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  while (left > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {  // unconvertible or cut short
      out.push_back('?');
      const std::size_t skip = std::string_view(from) == "UTF-8"
                                   ? 1 + (static_cast<unsigned char>(*src) >= 0xC0) +
                                         (static_cast<unsigned char>(*src) >= 0xE0) +
                                         (static_cast<unsigned char>(*src) >= 0xF0)
                                   : 1;
      const std::size_t n = std::min(skip, left);
      src += n;
      left -= n;
    }
  }
  iconv_close(cd);
  return out;
}

constexpr const char* kKinds[] = {"连衣裙", "运动鞋", "保温杯", "蓝牙耳机", "双肩包", "羊毛围巾",
                                  "机械键盘", "陶瓷茶具", "儿童积木", "护手霜", "折叠伞", "真皮钱包"};
constexpr const char* kTraits[] = {"新款", "加厚", "包邮", "正品", "特价", "韩版", "手工", "大容量"};
constexpr const char* kSeasons[] = {"春季", "夏季", "秋冬", "2026"};

const char* Extension(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg: return "jpg";
    case PictureFormat::Png: return "png";
    case PictureFormat::Gif: return "gif";
    case PictureFormat::Bmp: return "bmp";
  }
  return "jpg";
}

struct Size { int w, h; };
constexpr Size kSizes[] = {{60, 60}, {80, 80}, {120, 90}, {200, 200}, {310, 310}, {90, 160}, {400, 300}, {800, 800}};

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8"); }
std::string GbkToUtf8Text(std::string_view gbk) { return Convert(gbk, "UTF-8", "GBK"); }

std::string PicturePath(const PictureSpec& shape) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "/pictures/%08x-%d-%dx%d.%s", shape.seed, shape.index, shape.width,
                shape.height, Extension(shape.format));
  return buffer;
}

std::optional<PictureSpec> ParsePicturePath(std::string_view path) {
  constexpr std::string_view kPrefix = "/pictures/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  path.remove_prefix(kPrefix.size());
  PictureSpec shape;
  const char* p = path.data();
  const char* end = p + path.size();
  auto number = [&](auto& value, int base, char stop) {
    auto [next, ec] = std::from_chars(p, end, value, base);
    if (ec != std::errc() || next == end || *next != stop) return false;
    p = next + 1;
    return true;
  };
  if (!number(shape.seed, 16, '-') || !number(shape.index, 10, '-') || !number(shape.width, 10, 'x') ||
      !number(shape.height, 10, '.'))
    return std::nullopt;
  const std::string_view ext(p, static_cast<std::size_t>(end - p));
  bool known = false;
  for (PictureFormat f : {PictureFormat::Jpeg, PictureFormat::Png, PictureFormat::Gif, PictureFormat::Bmp})
    if (ext == Extension(f)) shape.format = f, known = true;
  if (!known || shape.index < 0 || shape.width < 1 || shape.height < 1 || shape.width > 2000 || shape.height > 2000)
    return std::nullopt;
  return shape;
}

bool PictureFails(const PictureSpec& shape, int failPercent) {
  if (failPercent <= 0) return false;
  return static_cast<int>(Mix(shape.seed ^ Mix(static_cast<std::uint32_t>(shape.index) + 1)) % 100) < failPercent;
}

ByteArray MakePicture(const PictureSpec& shape) {
  const Bitmap bitmap = MakeProductBitmap(shape.seed ^ Mix(static_cast<std::uint32_t>(shape.index)), shape.width, shape.height);
  switch (shape.format) {
    case PictureFormat::Jpeg: return EncodeJpeg(bitmap, 85);
    case PictureFormat::Png: return EncodePng(bitmap);
    case PictureFormat::Gif: return EncodeGif(bitmap);
    case PictureFormat::Bmp: return EncodeBmp(bitmap);
  }
  return {};
}

std::uint32_t NicknameSeed(std::string_view gbkNickname) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : gbkNickname) hash = (hash ^ c) * 16777619u;
  return hash;
}

SellerReport MakeReport(std::string_view gbkNickname, const ServiceOptions& options) {
  const std::uint32_t seed = NicknameSeed(gbkNickname);
  Dice dice(seed);
  SellerReport report;
  const int count = options.products >= 0 ? options.products : dice.Between(3, 12);
  long long turnoverCents = 0, sold = 0;
  for (int i = 0; i < count; ++i) {
    ProductEntry product;
    product.picture.seed = seed;
    product.picture.index = i;
    const Size size = kSizes[dice.Next() % std::size(kSizes)];
    product.picture.width = options.pictureWidth > 0 ? options.pictureWidth : size.w;
    product.picture.height = options.pictureHeight > 0 ? options.pictureHeight : size.h;
    product.picture.format =
        options.pictureFormat.value_or(static_cast<PictureFormat>((seed + static_cast<std::uint32_t>(i)) % 4));
    product.title = std::string(kSeasons[dice.Next() % std::size(kSeasons)]) + kTraits[dice.Next() % std::size(kTraits)] +
                    kKinds[dice.Next() % std::size(kKinds)] + " " + std::to_string(100 + i);
    product.linked = dice.Next() % 3 != 0;
    const long long fixed = dice.Between(990, 59900);
    const long long discount = fixed * dice.Between(60, 100) / 100;
    const int monthly = dice.Between(0, 3000);
    product.fixedPrice = Money(fixed);
    product.discountPrice = Money(discount);
    product.monthlySales = std::to_string(monthly);
    product.reviewCount = std::to_string(dice.Between(0, monthly * 2 + 5));
    product.monthlyTurnover = Money(discount * monthly);
    turnoverCents += discount * monthly;
    sold += monthly;
    report.products.push_back(std::move(product));
  }
  report.salesAmount = Money(turnoverCents);
  report.averageOrderValue = Money(sold > 0 ? turnoverCents / sold : 0);
  report.monthlySalesCount = std::to_string(sold);
  report.itemsOnSale = std::to_string(count);
  return report;
}

std::string RenderReportPage(std::string_view gbkNickname, const SellerReport& report,
                             std::string_view pictureBase, const ServiceOptions& options) {
  // The nickname is the user's text: escaped, so that it cannot add markup the two patterns
  // would read as figures or rows.
  std::string nick;
  for (char c : GbkToUtf8Text(gbkNickname)) {
    switch (c) {
      case '<': nick += "&lt;"; break;
      case '>': nick += "&gt;"; break;
      case '&': nick += "&amp;"; break;
      case '"': nick += "&quot;"; break;
      default: nick += c;
    }
  }
  std::string page;
  page.reserve(1024 + report.products.size() * 400);
  page += "<!DOCTYPE html>\n<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=";
  page += options.utf8 ? "utf-8" : "gb2312";
  page += "\">\n<title>淘宝卖家月销量查询</title>\n</head>\n<body>\n";
  page += "<form method=\"post\" action=\"/yeji/\">旺旺昵称：<input name=\"nick\" value=\"\">"
          "<input type=\"submit\" name=\"B1\" value=\"查询业绩\"></form>\n";
  page += "<h2>卖家 " + nick + " 的月销售业绩</h2>\n<div class=\"summary\">\n";
  page += "<p>销售金额：<span class=\"data\">" + report.salesAmount + "</span> 元</p>\n";
  page += "<p>平均客单价：<span class=\"data\">" + report.averageOrderValue + "</span> 元</p>\n";
  page += "<p>月销售数量：<span class=\"data\">" + report.monthlySalesCount + "</span> 件</p>\n";
  page += "<p>在线商品数：<span class=\"data\">" + report.itemsOnSale + "</span> 个</p>\n</div>\n";
  page += "<table class=\"products\" border=\"1\">\n"
          "<tr><th>图片</th><th>标题</th><th>一口价</th><th>优惠价</th><th>月销数量</th><th>评论数</th><th>月销售额</th></tr>\n";
  for (const ProductEntry& p : report.products) {
    page += "<tr>\n<td class=\"pic\"><img src=\"";
    page += pictureBase;
    page += PicturePath(p.picture);
    page += "\" width=\"60\" height=\"60\"></td>\n<td>";
    if (p.linked) {
      page += "<a href=\"http://item.taobao.com/item.htm?id=" + std::to_string(p.picture.seed % 100000 * 100 + static_cast<std::uint32_t>(p.picture.index)) +
              "\" target=\"_blank\">" + p.title + "</a>";
    } else {
      page += p.title;
    }
    page += "</td>\n<td>" + p.fixedPrice + "</td>\n<td>" + p.discountPrice + "</td>\n<td>" + p.monthlySales +
            "</td>\n<td>" + p.reviewCount + "</td>\n<td>" + p.monthlyTurnover + "</td>\n</tr>\n";
  }
  page += "</table>\n</body>\n</html>\n";
  return options.utf8 ? page : Utf8ToGbk(page);
}

std::string NicknameFromForm(std::string_view body) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    std::string_view field = body.substr(0, amp);
    body = amp == std::string_view::npos ? std::string_view{} : body.substr(amp + 1);
    if (field.substr(0, 5) != "nick=") continue;
    field.remove_prefix(5);
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
      if (field[i] == '+') {
        out.push_back(' ');
      } else if (field[i] == '%' && i + 2 < field.size() && hex(field[i + 1]) >= 0 && hex(field[i + 2]) >= 0) {
        out.push_back(static_cast<char>(hex(field[i + 1]) * 16 + hex(field[i + 2])));
        i += 2;
      } else {
        out.push_back(field[i]);
      }
    }
    return out;
  }
  return {};
}

}  // namespace sellmeter::service
