#pragma once
// Product pictures: JPEG, PNG, GIF (first frame) and BMP decoded from memory and fitted into
// one list cell. Every decoder is bounded: a declared size beyond the limits below is refused
// before any pixel buffer is allocated, and bytes that do not decode give nothing.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "text/text_types.h"

namespace sellmeter {

enum class PictureFormat { Jpeg, Png, Gif, Bmp };

// "jpeg", "png", "gif" or "bmp".
std::string_view PictureFormatName(PictureFormat format);

// The format the leading bytes announce (magic numbers only; nothing is decoded).
std::optional<PictureFormat> SniffPictureFormat(const ByteArray& bytes);

// Largest picture side and pixel count a decoder accepts.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 24;

// A decoded picture: width*height pixels, rows top to bottom, 0xAARRGGBB (straight alpha).
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

struct DecodedPicture {
  PictureFormat format = PictureFormat::Bmp;
  int width = 0;   // the picture's own size, as its header declares it
  int height = 0;
  Bitmap bitmap;   // the picture itself, or a reduced copy of it (see DecodePicture)
};

// Decodes bytes into a bitmap. With a cell size given (both > 0) a JPEG may come reduced
// through its DCT scaling: the smallest of the scales 1/8 .. 8/8 at which it still covers the
// size it takes when fitted into such a cell. Other formats, and JPEG without a cell, come at
// their full size.
std::optional<DecodedPicture> DecodePicture(const ByteArray& bytes, int cellWidth = 0,
                                            int cellHeight = 0);

// The size a width x height picture takes when fitted into the cell keeping its aspect ratio
// (each side at least 1, cut toward zero).
void FittedSize(int width, int height, int cellWidth, int cellHeight, int* fittedWidth,
                int* fittedHeight);

// Applies the list cell's mask rule: every pixel of the top-left pixel's colour (RGB) becomes
// transparent (alpha 0). Pixels that were transparent already stay so; when the top-left pixel
// is itself transparent the picture carries its own mask and no colour is keyed.
void ApplyCornerMask(Bitmap& bitmap);

// Fits a bitmap into a cellWidth x cellHeight cell keeping its aspect ratio, centred, with
// area-averaged reduction (or nearest-pixel enlargement) weighted by alpha; the margin is
// transparent. A bitmap of the cell's size is copied unchanged.
Bitmap FitIntoCell(const Bitmap& bitmap, int cellWidth, int cellHeight);

// One picture ready for a list cell.
struct CellPicture {
  PictureFormat format = PictureFormat::Bmp;
  int width = 0;   // the picture's own size
  int height = 0;
  int cellWidth = 60;
  int cellHeight = 60;
  std::vector<std::uint32_t> pixels;  // cellWidth*cellHeight, 0xAARRGGBB; alpha 0 where the
                                      // mask colour or the margin is
};

// Decode, mask with the top-left pixel's colour, fit into the cell. Nothing when the bytes are
// not a picture of the four formats, are damaged, or declare a size beyond the limits.
std::optional<CellPicture> DecodeCellPicture(const ByteArray& bytes, int cellWidth = 60,
                                             int cellHeight = 60);

}  // namespace sellmeter
