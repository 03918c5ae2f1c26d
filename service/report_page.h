#pragma once
// What the stand-in sales-statistics service answers: the report page for a nickname and the
// product pictures it links, all made up deterministically from the nickname's bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/picture.h"

namespace sellmeter::service {

struct ServiceOptions {
  bool utf8 = false;            // page in UTF-8 (declared so) instead of GBK
  int latencyMs = 0;            // added before every answer
  int failPicturesPercent = 0;  // share of pictures answered with 404, chosen by URL
  int products = -1;            // products per page; < 0: 3 to 12, by nickname
  std::optional<PictureFormat> pictureFormat;  // every picture in this format
  int pictureWidth = 0;         // every picture of this size (with pictureHeight)
  int pictureHeight = 0;
};

// One picture the page links: /pictures/<seed>-<index>-<width>x<height>.<ext>
struct PictureSpec {
  std::uint32_t seed = 0;
  int index = 0;
  int width = 0;
  int height = 0;
  PictureFormat format = PictureFormat::Jpeg;
};

std::string PicturePath(const PictureSpec& shape);
std::optional<PictureSpec> ParsePicturePath(std::string_view path);

// True for the pictures that --fail-pictures turns away.
bool PictureFails(const PictureSpec& shape, int failPercent);

// The picture file; empty when it cannot be made.
ByteArray MakePicture(const PictureSpec& shape);

struct ProductEntry {
  PictureSpec picture;
  std::string title;  // UTF-8, with or without a link around it
  bool linked = false;
  std::string fixedPrice, discountPrice, monthlySales, reviewCount, monthlyTurnover;
};

struct SellerReport {
  std::string salesAmount, averageOrderValue, monthlySalesCount, itemsOnSale;
  std::vector<ProductEntry> products;
};

std::uint32_t NicknameSeed(std::string_view gbkNickname);
SellerReport MakeReport(std::string_view gbkNickname, const ServiceOptions& options);

// The page's bytes, in GBK or (options.utf8) UTF-8. pictureBase is "http://host:port".
std::string RenderReportPage(std::string_view gbkNickname, const SellerReport& report,
                             std::string_view pictureBase, const ServiceOptions& options);

// The nick field of a form body ("nick=%..&B1=..."), percent-decoded to its GBK bytes.
std::string NicknameFromForm(std::string_view body);

// UTF-8 <-> GBK for the page texts; characters GBK lacks become "?".
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8Text(std::string_view gbk);

}  // namespace sellmeter::service
