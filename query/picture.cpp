#include "query/picture.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "query/picture_decoders.h"

// The decoders write pixels as B, G, R, A bytes and read them back as 0xAARRGGBB words.
static_assert(std::endian::native == std::endian::little);

namespace sellmeter {

namespace picture_detail {

bool SizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

}  // namespace picture_detail

std::string_view PictureFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg: return "jpeg";
    case PictureFormat::Png: return "png";
    case PictureFormat::Gif: return "gif";
    case PictureFormat::Bmp: return "bmp";
  }
  return "";
}

std::optional<PictureFormat> SniffPictureFormat(const ByteArray& bytes) {
  auto starts = [&](std::initializer_list<std::uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
  };
  if (starts({0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
  if (starts({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return PictureFormat::Png;
  if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'}))
    return PictureFormat::Gif;
  if (starts({'B', 'M'})) return PictureFormat::Bmp;
  return std::nullopt;
}

std::optional<DecodedPicture> DecodePicture(const ByteArray& bytes, int cellWidth,
                                            int cellHeight) {
  const auto format = SniffPictureFormat(bytes);
  if (!format) return std::nullopt;
  std::optional<DecodedPicture> picture;
  switch (*format) {
    case PictureFormat::Jpeg:
      picture = picture_detail::DecodeJpeg(bytes.data(), bytes.size(), cellWidth, cellHeight);
      break;
    case PictureFormat::Png:
      picture = picture_detail::DecodePng(bytes.data(), bytes.size());
      break;
    case PictureFormat::Gif:
      picture = picture_detail::DecodeGif(bytes.data(), bytes.size());
      break;
    case PictureFormat::Bmp:
      picture = picture_detail::DecodeBmp(bytes.data(), bytes.size());
      break;
  }
  if (picture) picture->format = *format;
  return picture;
}

void FittedSize(int width, int height, int cellWidth, int cellHeight, int* fittedWidth,
                int* fittedHeight) {
  const std::int64_t w = std::max(width, 1), h = std::max(height, 1);
  std::int64_t fw, fh;
  if (w * cellHeight >= h * cellWidth) {  // as wide as the cell, or wider
    fw = cellWidth;
    fh = h * cellWidth / w;
  } else {
    fh = cellHeight;
    fw = w * cellHeight / h;
  }
  *fittedWidth = static_cast<int>(std::max<std::int64_t>(fw, 1));
  *fittedHeight = static_cast<int>(std::max<std::int64_t>(fh, 1));
}

void ApplyCornerMask(Bitmap& bitmap) {
  if (bitmap.pixels.empty()) return;
  const std::uint32_t corner = bitmap.pixels[0];
  if ((corner >> 24) == 0) return;
  const std::uint32_t key = corner & 0x00FFFFFFu;
  for (auto& pixel : bitmap.pixels)
    if ((pixel & 0x00FFFFFFu) == key) pixel = key;  // alpha 0
}

namespace {

// Coverage of destination sample i by each source sample along one axis: destination sample
// i spans [i*src, (i+1)*src) and source sample k spans [k*dst, (k+1)*dst) in units of
// 1/(src*dst); every destination's weights sum to src.
struct Taps {
  std::vector<int> first;   // first source sample per destination sample
  std::vector<int> count;   // number of source samples
  std::vector<float> weight;  // count[i] weights per destination, already divided by src
  std::vector<int> offset;  // where destination i's weights start
};

Taps MakeTaps(int src, int dst) {
  Taps taps;
  taps.first.resize(dst);
  taps.count.resize(dst);
  taps.offset.resize(dst);
  const std::int64_t s = src, d = dst;
  for (int i = 0; i < dst; ++i) {
    const std::int64_t lo = i * s, hi = (i + 1) * s;
    const int k0 = static_cast<int>(lo / d);
    const int k1 = static_cast<int>((hi - 1) / d);
    taps.first[i] = k0;
    taps.count[i] = k1 - k0 + 1;
    taps.offset[i] = static_cast<int>(taps.weight.size());
    for (int k = k0; k <= k1; ++k) {
      const std::int64_t overlap = std::min(hi, (k + 1) * d) - std::max(lo, k * d);
      taps.weight.push_back(static_cast<float>(overlap) / static_cast<float>(s));
    }
  }
  return taps;
}

}  // namespace

Bitmap FitIntoCell(const Bitmap& bitmap, int cellWidth, int cellHeight) {
  Bitmap cell;
  cell.width = cellWidth;
  cell.height = cellHeight;
  cell.pixels.assign(static_cast<std::size_t>(cellWidth) * cellHeight, 0);
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * bitmap.height)
    return cell;
  if (bitmap.width == cellWidth && bitmap.height == cellHeight) {
    cell.pixels = bitmap.pixels;
    return cell;
  }
  int fw, fh;
  FittedSize(bitmap.width, bitmap.height, cellWidth, cellHeight, &fw, &fh);
  const int x0 = (cellWidth - fw) / 2, y0 = (cellHeight - fh) / 2;
  const Taps across = MakeTaps(bitmap.width, fw);
  const Taps down = MakeTaps(bitmap.height, fh);

  // Horizontal pass into premultiplied floats (a, r*a, g*a, b*a), then the vertical pass.
  std::vector<float> rows(static_cast<std::size_t>(fw) * bitmap.height * 4);
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint32_t* src = bitmap.pixels.data() + static_cast<std::size_t>(y) * bitmap.width;
    float* out = rows.data() + static_cast<std::size_t>(y) * fw * 4;
    for (int x = 0; x < fw; ++x) {
      float a = 0, r = 0, g = 0, b = 0;
      const float* w = across.weight.data() + across.offset[x];
      const std::uint32_t* p = src + across.first[x];
      for (int k = 0; k < across.count[x]; ++k) {
        const std::uint32_t v = p[k];
        const float wa = w[k] * static_cast<float>(v >> 24);
        a += wa;
        r += wa * static_cast<float>((v >> 16) & 0xFF);
        g += wa * static_cast<float>((v >> 8) & 0xFF);
        b += wa * static_cast<float>(v & 0xFF);
      }
      out[x * 4 + 0] = a;
      out[x * 4 + 1] = r;
      out[x * 4 + 2] = g;
      out[x * 4 + 3] = b;
    }
  }
  for (int y = 0; y < fh; ++y) {
    std::uint32_t* out = cell.pixels.data() + static_cast<std::size_t>(y + y0) * cellWidth + x0;
    const float* w = down.weight.data() + down.offset[y];
    for (int x = 0; x < fw; ++x) {
      float a = 0, r = 0, g = 0, b = 0;
      for (int k = 0; k < down.count[y]; ++k) {
        const float* p = rows.data() + (static_cast<std::size_t>(down.first[y] + k) * fw + x) * 4;
        a += w[k] * p[0];
        r += w[k] * p[1];
        g += w[k] * p[2];
        b += w[k] * p[3];
      }
      if (a < 0.5f) {
        out[x] = 0;
        continue;
      }
      auto channel = [](float v) {
        return static_cast<std::uint32_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
      };
      out[x] = channel(a) << 24 | channel(r / a) << 16 | channel(g / a) << 8 | channel(b / a);
    }
  }
  return cell;
}

std::optional<CellPicture> DecodeCellPicture(const ByteArray& bytes, int cellWidth,
                                             int cellHeight) {
  if (cellWidth <= 0 || cellHeight <= 0) return std::nullopt;
  auto decoded = DecodePicture(bytes, cellWidth, cellHeight);
  if (!decoded) return std::nullopt;
  ApplyCornerMask(decoded->bitmap);
  CellPicture picture;
  picture.format = decoded->format;
  picture.width = decoded->width;
  picture.height = decoded->height;
  picture.cellWidth = cellWidth;
  picture.cellHeight = cellHeight;
  picture.pixels = FitIntoCell(decoded->bitmap, cellWidth, cellHeight).pixels;
  return picture;
}

}  // namespace sellmeter
