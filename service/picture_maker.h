#pragma once
// Pictures the stand-in service makes and serves, and the encoders it writes them with. The
// picture tests use the same encoders for their fixtures.
#include <cstdint>
#include <vector>

#include "query/picture.h"

namespace sellmeter::service {

// A product shot: a shape in the seed's colours on a plain white ground, with a little
// texture so that JPEG sizes look like photographs'.
Bitmap MakeProductBitmap(std::uint32_t seed, int width, int height);

ByteArray EncodeJpeg(const Bitmap& bitmap, int quality = 85, bool progressive = false);
ByteArray EncodePng(const Bitmap& bitmap, bool interlaced = false);
// 24-bit (alpha dropped) or 32-bit with an alpha bit-field; bottom-up unless topDown.
ByteArray EncodeBmp(const Bitmap& bitmap, int bits = 24, bool topDown = false);

// An indexed GIF frame.
struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> indices;  // width*height
  int transparentIndex = -1;
  int delayCentiseconds = 0;
};
// palette: 0x00RRGGBB entries, 2..256 (padded to a power of two); several frames make an
// animated GIF that loops.
ByteArray EncodeGif(int screenWidth, int screenHeight, const std::vector<std::uint32_t>& palette,
                    const std::vector<GifFrame>& frames, bool interlaced = false);
// The bitmap reduced to a 6x6x6 colour cube (216 colours), opaque, one frame.
ByteArray EncodeGif(const Bitmap& bitmap);

}  // namespace sellmeter::service
