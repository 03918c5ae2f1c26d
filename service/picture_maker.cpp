#include "service/picture_maker.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

namespace sellmeter::service {

namespace {

std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

}  // namespace

Bitmap MakeProductBitmap(std::uint32_t seed, int width, int height) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.pixels.assign(static_cast<std::size_t>(width) * height, 0xFFFFFFFFu);
  const std::uint32_t h = Mix(seed);
  const int r0 = 40 + (h & 0x7F), g0 = 40 + ((h >> 8) & 0x7F), b0 = 40 + ((h >> 16) & 0x7F);
  const bool round = (h >> 24) & 1;
  const double cx = width / 2.0, cy = height / 2.0;
  const double rx = width * 0.38, ry = height * 0.38;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
      const bool inside = round ? dx * dx + dy * dy <= 1.0 : std::max(std::abs(dx), std::abs(dy)) <= 1.0;
      if (!inside) continue;
      const int noise = static_cast<int>(Mix(seed ^ static_cast<std::uint32_t>(y * 7919 + x)) & 31) - 16;
      const int shade = (x * 64) / std::max(width, 1) + (y * 32) / std::max(height, 1);
      auto c = [&](int base) { return static_cast<std::uint32_t>(std::clamp(base + shade + noise, 0, 254)); };
      bitmap.pixels[static_cast<std::size_t>(y) * width + x] = 0xFF000000u | c(r0) << 16 | c(g0) << 8 | c(b0);
    }
  return bitmap;
}

// ---- JPEG ----

namespace {
struct JpegError {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};
}  // namespace

ByteArray EncodeJpeg(const Bitmap& bitmap, int quality, bool progressive) {
  jpeg_compress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ByteArray out;
  if (setjmp(err.jump) == 0) {
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.width);
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(
          bitmap.pixels.data() + static_cast<std::size_t>(cinfo.next_scanline) * bitmap.width));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    out.assign(buffer, buffer + size);
  }
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

// ---- PNG ----

ByteArray EncodePng(const Bitmap& bitmap, bool interlaced) {
  ByteArray out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return out;
  png_infop info = png_create_info_struct(png);
  if (info && setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
          auto* sink = static_cast<ByteArray*>(png_get_io_ptr(p));
          sink->insert(sink->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width),
                 static_cast<png_uint_32>(bitmap.height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.height));
    for (int y = 0; y < bitmap.height; ++y)
      rows[static_cast<std::size_t>(y)] = reinterpret_cast<png_bytep>(
          const_cast<std::uint32_t*>(bitmap.pixels.data() + static_cast<std::size_t>(y) * bitmap.width));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
  } else {
    out.clear();
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return out;
}

// ---- BMP ----

ByteArray EncodeBmp(const Bitmap& bitmap, int bits, bool topDown) {
  const int w = bitmap.width, h = bitmap.height;
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * bits + 31) / 32 * 4;
  const std::uint32_t headerSize = bits == 32 ? 56 : 40;  // V3 carries the alpha mask
  const std::uint32_t offset = 14 + headerSize;
  ByteArray out(offset + stride * static_cast<std::uint32_t>(h), 0);
  auto put16 = [&](std::size_t at, std::uint32_t v) { out[at] = v & 0xFF; out[at + 1] = (v >> 8) & 0xFF; };
  auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<std::uint32_t>(out.size()));
  put32(10, offset);
  put32(14, headerSize);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(topDown ? -h : h));
  put16(26, 1);
  put16(28, static_cast<std::uint32_t>(bits));
  put32(30, bits == 32 ? 3 : 0);
  put32(34, stride * static_cast<std::uint32_t>(h));
  if (bits == 32) {
    put32(54, 0x00FF0000);
    put32(58, 0x0000FF00);
    put32(62, 0x000000FF);
    put32(66, 0xFF000000);
  }
  for (int row = 0; row < h; ++row) {
    const int y = topDown ? row : h - 1 - row;
    std::uint8_t* dst = out.data() + offset + static_cast<std::size_t>(row) * stride;
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = bitmap.pixels[static_cast<std::size_t>(y) * w + x];
      if (bits == 32) {
        std::memcpy(dst + x * 4, &p, 4);
      } else {
        dst[x * 3] = p & 0xFF;
        dst[x * 3 + 1] = (p >> 8) & 0xFF;
        dst[x * 3 + 2] = (p >> 16) & 0xFF;
      }
    }
  }
  return out;
}

// ---- GIF ----

ByteArray EncodeGif(int screenWidth, int screenHeight, const std::vector<std::uint32_t>& palette,
                    const std::vector<GifFrame>& frames, bool interlaced) {
  ByteArray out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int length) {
    auto* sink = static_cast<ByteArray*>(g->UserData);
    sink->insert(sink->end(), data, data + length);
    return length;
  }, &error);
  if (!gif) return {};
  int size = 2;
  while (size < static_cast<int>(palette.size()) && size < 256) size *= 2;
  std::vector<GifColorType> colours(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < palette.size() && i < colours.size(); ++i)
    colours[i] = {static_cast<GifByteType>(palette[i] >> 16), static_cast<GifByteType>(palette[i] >> 8),
                  static_cast<GifByteType>(palette[i])};
  ColorMapObject* map = GifMakeMapObject(size, colours.data());
  bool ok = map && EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, map) != GIF_ERROR;
  if (ok && frames.size() > 1) {
    static const GifByteType kLoop[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType kForever[] = {1, 0, 0};
    ok = EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR &&
         EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) != GIF_ERROR &&
         EGifPutExtensionBlock(gif, sizeof kForever, kForever) != GIF_ERROR &&
         EGifPutExtensionTrailer(gif) != GIF_ERROR;
  }
  for (const GifFrame& frame : frames) {
    if (!ok) break;
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.DelayTime = frame.delayCentiseconds;
    control.TransparentColor = frame.transparentIndex < 0 ? NO_TRANSPARENT_COLOR : frame.transparentIndex;
    GifByteType block[4];
    EGifGCBToExtension(&control, block);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block) != GIF_ERROR &&
         EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, interlaced, nullptr) != GIF_ERROR;
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width));
    auto putRow = [&](int row) {
      std::copy_n(frame.indices.begin() + static_cast<std::ptrdiff_t>(row) * frame.width, frame.width, line.begin());
      return EGifPutLine(gif, line.data(), frame.width) != GIF_ERROR;
    };
    if (interlaced) {
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4 && ok; ++pass)
        for (int row = kStart[pass]; row < frame.height && ok; row += kStep[pass]) ok = putRow(row);
    } else {
      for (int row = 0; row < frame.height && ok; ++row) ok = putRow(row);
    }
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  return ok ? out : ByteArray{};
}

ByteArray EncodeGif(const Bitmap& bitmap) {
  std::vector<std::uint32_t> palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.push_back(static_cast<std::uint32_t>(r * 51) << 16 | static_cast<std::uint32_t>(g * 51) << 8 |
                          static_cast<std::uint32_t>(b * 51));
  GifFrame frame;
  frame.width = bitmap.width;
  frame.height = bitmap.height;
  frame.indices.resize(bitmap.pixels.size());
  for (std::size_t i = 0; i < bitmap.pixels.size(); ++i) {
    const std::uint32_t p = bitmap.pixels[i];
    auto level = [](std::uint32_t c) { return (c + 25) / 51; };
    frame.indices[i] = static_cast<std::uint8_t>(level((p >> 16) & 0xFF) * 36 + level((p >> 8) & 0xFF) * 6 + level(p & 0xFF));
  }
  return EncodeGif(bitmap.width, bitmap.height, palette, {frame});
}

}  // namespace sellmeter::service
