// Windows bitmaps: BITMAPCOREHEADER and BITMAPINFOHEADER up to V5; 1, 4 and 8 bits with a
// palette, 16 and 32 bits with BI_RGB or bit-field masks, 24 bits. Run-length compressed
// files are refused.
#include <bit>

#include "query/picture_decoders.h"

namespace sellmeter::picture_detail {

namespace {

constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= size && length <= size - offset;
  }
  std::uint32_t U16(std::size_t at) const { return data[at] | data[at + 1] << 8; }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
           static_cast<std::uint32_t>(data[at + 2]) << 16 |
           static_cast<std::uint32_t>(data[at + 3]) << 24;
  }
};

// Extracts one channel through its mask and scales it to 0..255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;
  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  std::uint32_t Get(std::uint32_t value) const {
    if (!mask) return 0;
    const std::uint32_t v = (value & mask) >> shift;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(v) * 255 + max / 2) / max);
  }
};

}  // namespace

std::optional<DecodedPicture> DecodeBmp(const std::uint8_t* data, std::size_t size) {
  const Reader in{data, size};
  if (!in.Has(0, 18) || data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const std::uint32_t pixelOffset = in.U32(10);
  const std::uint32_t headerSize = in.U32(14);
  if (headerSize < 12 || !in.Has(14, headerSize)) return std::nullopt;

  std::int64_t width, height;
  std::uint32_t bits, compression = kBiRgb, colours = 0;
  std::size_t paletteEntry = 4;
  if (headerSize == 12) {  // BITMAPCOREHEADER
    width = in.U16(18);
    height = static_cast<std::int16_t>(in.U16(20));
    bits = in.U16(24);
    paletteEntry = 3;
  } else {
    if (headerSize < 40) return std::nullopt;
    width = static_cast<std::int32_t>(in.U32(18));
    height = static_cast<std::int32_t>(in.U32(22));
    bits = in.U16(28);
    compression = in.U32(30);
    colours = in.U32(46);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (!SizeAllowed(width, height)) return std::nullopt;

  // Masks sit inside a V2+ header, or right after a plain 40-byte one.
  std::uint32_t red = 0x00FF0000, green = 0x0000FF00, blue = 0x000000FF, alpha = 0;
  if (bits == 16) red = 0x7C00, green = 0x03E0, blue = 0x001F;
  std::size_t afterHeader = 14 + static_cast<std::size_t>(headerSize);
  if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
    if (bits != 16 && bits != 32) return std::nullopt;
    std::size_t at = 14 + 40;
    const std::size_t count = compression == kBiAlphaBitfields ? 4 : 3;
    if (headerSize == 40) afterHeader += count * 4;
    if (!in.Has(at, count * 4)) return std::nullopt;
    red = in.U32(at), green = in.U32(at + 4), blue = in.U32(at + 8);
    if (count == 4 || headerSize >= 56) alpha = in.Has(at + 12, 4) ? in.U32(at + 12) : 0;
  } else if (compression != kBiRgb) {
    return std::nullopt;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return std::nullopt;

  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    const std::uint32_t most = 1u << bits;
    const std::uint32_t count = colours == 0 || colours > most ? most : colours;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t at = afterHeader + i * paletteEntry;
      if (!in.Has(at, 3) || at + 3 > pixelOffset) break;  // a short palette ends early
      palette.push_back(0xFF000000u | std::uint32_t{data[at + 2]} << 16 |
                        std::uint32_t{data[at + 1]} << 8 | data[at]);
    }
    if (palette.empty()) return std::nullopt;
  }

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  if (!in.Has(pixelOffset, 0) || (size - pixelOffset) / stride < static_cast<std::uint64_t>(height))
    return std::nullopt;

  DecodedPicture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  Bitmap& bitmap = picture.bitmap;
  bitmap.width = picture.width;
  bitmap.height = picture.height;
  bitmap.pixels.assign(static_cast<std::size_t>(width * height), 0);

  const Channel r(red), g(green), b(blue), a(alpha);
  bool anyAlpha = false;
  for (std::int64_t row = 0; row < height; ++row) {
    const std::uint8_t* src = data + pixelOffset + row * stride;
    const std::int64_t y = topDown ? row : height - 1 - row;
    std::uint32_t* out = bitmap.pixels.data() + y * width;
    for (std::int64_t x = 0; x < width; ++x) {
      std::uint32_t pixel;
      if (bits <= 8) {
        const std::int64_t bit = x * bits;
        const unsigned index =
            (src[bit / 8] >> (8 - bits - static_cast<unsigned>(bit % 8))) & ((1u << bits) - 1);
        pixel = index < palette.size() ? palette[index] : 0xFF000000u;
      } else if (bits == 24) {
        const std::uint8_t* p = src + x * 3;
        pixel = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
      } else {
        const std::uint32_t v = bits == 16 ? in.U16(pixelOffset + row * stride + x * 2)
                                           : in.U32(pixelOffset + row * stride + x * 4);
        const std::uint32_t av = alpha ? a.Get(v) : 0xFF;
        anyAlpha |= av != 0;
        pixel = av << 24 | r.Get(v) << 16 | g.Get(v) << 8 | b.Get(v);
      }
      out[x] = pixel;
    }
  }
  // Many writers leave the alpha bits zero; such a picture is opaque.
  if (alpha && !anyAlpha)
    for (auto& pixel : bitmap.pixels) pixel |= 0xFF000000u;
  return picture;
}

}  // namespace sellmeter::picture_detail
