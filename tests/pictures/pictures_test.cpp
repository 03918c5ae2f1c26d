#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "query/picture.h"
#include "service/picture_maker.h"

namespace sellmeter {
namespace {

using service::EncodeBmp;
using service::EncodeGif;
using service::EncodeJpeg;
using service::EncodePng;
using service::GifFrame;

constexpr std::uint32_t kWhite = 0xFFFFFFFFu, kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu;

Bitmap Solid(int w, int h, std::uint32_t colour) {
  return Bitmap{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h, colour)};
}

// White ground with a red rectangle [x0,x1) x [y0,y1).
Bitmap Framed(int w, int h, int x0, int y0, int x1, int y1) {
  Bitmap b = Solid(w, h, kWhite);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) b.pixels[static_cast<std::size_t>(y) * w + x] = kRed;
  return b;
}

std::uint32_t At(const CellPicture& p, int x, int y) {
  return p.pixels[static_cast<std::size_t>(y) * p.cellWidth + x];
}

int Channel(std::uint32_t p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }

// Largest difference of any channel between two bitmaps of the same size.
int MaxDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i)
    for (int s : {0, 8, 16, 24}) worst = std::max(worst, std::abs(Channel(a.pixels[i], s) - Channel(b.pixels[i], s)));
  return worst;
}

void Put32(ByteArray& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A PNG chunk with its length and CRC.
void AppendChunk(ByteArray& out, const char* type, const ByteArray& data) {
  const std::uint32_t n = static_cast<std::uint32_t>(data.size());
  for (int s : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(n >> s));
  ByteArray body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
  out.insert(out.end(), body.begin(), body.end());
  for (int s : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(crc >> s));
}

ByteArray PngHeaderOnly(std::uint32_t w, std::uint32_t h) {
  ByteArray out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ByteArray ihdr(13, 0);
  for (int i = 0; i < 4; ++i) {
    ihdr[i] = static_cast<std::uint8_t>(w >> (24 - 8 * i));
    ihdr[4 + i] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
  }
  ihdr[8] = 8;  // depth
  ihdr[9] = 6;  // RGBA
  AppendChunk(out, "IHDR", ihdr);
  ByteArray idat = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};  // empty zlib stream
  AppendChunk(out, "IDAT", idat);
  AppendChunk(out, "IEND", {});
  return out;
}

// A palette BMP written by hand: 40-byte header, `bits` per pixel, bottom-up.
ByteArray PaletteBmp(int w, int h, int bits, const std::vector<std::uint32_t>& palette,
                     const std::function<unsigned(int, int)>& index) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * bits + 31) / 32 * 4;
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(palette.size()) * 4;
  ByteArray out(offset + stride * h, 0);
  out[0] = 'B', out[1] = 'M';
  Put32(out, 10, offset);
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<std::uint32_t>(w));
  Put32(out, 22, static_cast<std::uint32_t>(h));
  out[26] = 1;
  out[28] = static_cast<std::uint8_t>(bits);
  Put32(out, 46, static_cast<std::uint32_t>(palette.size()));
  for (std::size_t i = 0; i < palette.size(); ++i) Put32(out, 54 + i * 4, palette[i]);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) {
      const unsigned v = index(x, h - 1 - row);
      const std::size_t bit = static_cast<std::size_t>(x) * bits;
      out[offset + row * stride + bit / 8] |= static_cast<std::uint8_t>(v << (8 - bits - bit % 8));
    }
  return out;
}

// A PNG of another colour type than the encoder's RGBA, written with libpng directly.
ByteArray RawPng(int w, int h, int colourType, int depth, const std::vector<std::uint8_t>& rowBytes,
                 const std::vector<png_color>& palette = {}, const std::vector<png_byte>& alphas = {}) {
  ByteArray out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(png, &out, [](png_structp p, png_bytep d, png_size_t n) {
      auto* sink = static_cast<ByteArray*>(png_get_io_ptr(p));
      sink->insert(sink->end(), d, d + n);
    }, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!alphas.empty()) png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    png_write_info(png, info);
    const std::size_t stride = rowBytes.size() / static_cast<std::size_t>(h);
    for (int y = 0; y < h; ++y) png_write_row(png, rowBytes.data() + stride * static_cast<std::size_t>(y));
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(DecodePicture, PngColourTypesAllBecomeBgra) {
  // Palette, 2 bits, entry 1 transparent through tRNS: row 0 = 0 1 2 3.
  const auto palette = DecodePicture(RawPng(4, 1, PNG_COLOR_TYPE_PALETTE, 2, {0b00011011},
                                            {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}}, {255, 0}));
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->bitmap.pixels, (std::vector<std::uint32_t>{kRed, 0x0000FF00u, kBlue, 0xFF090807u}));
  // 16-bit grey: the high byte counts.
  const auto grey = DecodePicture(RawPng(2, 1, PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0xFF, 0xFF}));
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->bitmap.pixels, (std::vector<std::uint32_t>{0xFF121212u, 0xFFFFFFFFu}));
  // Grey with alpha, 8 bits.
  const auto greyAlpha = DecodePicture(RawPng(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0x40, 0x80}));
  ASSERT_TRUE(greyAlpha);
  EXPECT_EQ(greyAlpha->bitmap.pixels, (std::vector<std::uint32_t>{0x80404040u}));
  // 1-bit grey, 9 pixels across two bytes.
  const auto mono = DecodePicture(RawPng(9, 1, PNG_COLOR_TYPE_GRAY, 1, {0b10100000, 0b10000000}));
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->bitmap.pixels[0], kWhite);
  EXPECT_EQ(mono->bitmap.pixels[1], 0xFF000000u);
  EXPECT_EQ(mono->bitmap.pixels[8], kWhite);
}

struct LosslessCase {
  const char* name;
  PictureFormat format;
  std::function<ByteArray(const Bitmap&)> encode;
};

TEST(DecodePicture, LosslessFormatsComeBackPixelForPixel) {
  // Colours on the GIF encoder's 6x6x6 cube so that it reproduces them exactly.
  Bitmap picture = Solid(37, 23, 0xFF3366CCu);
  for (int y = 5; y < 15; ++y)
    for (int x = 3; x < 30; ++x) picture.pixels[y * 37 + x] = 0xFFFF9900u;
  const LosslessCase cases[] = {
      {"png", PictureFormat::Png, [](const Bitmap& b) { return EncodePng(b); }},
      {"png interlaced", PictureFormat::Png, [](const Bitmap& b) { return EncodePng(b, true); }},
      {"bmp 24 bottom-up", PictureFormat::Bmp, [](const Bitmap& b) { return EncodeBmp(b, 24); }},
      {"bmp 24 top-down", PictureFormat::Bmp, [](const Bitmap& b) { return EncodeBmp(b, 24, true); }},
      {"bmp 32 bit-fields", PictureFormat::Bmp, [](const Bitmap& b) { return EncodeBmp(b, 32); }},
      {"gif", PictureFormat::Gif, [](const Bitmap& b) { return EncodeGif(b); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto decoded = DecodePicture(c.encode(picture));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, c.format);
    EXPECT_EQ(decoded->width, 37);
    EXPECT_EQ(decoded->height, 23);
    EXPECT_EQ(decoded->bitmap.pixels, picture.pixels);
  }
}

TEST(DecodePicture, PngKeepsItsAlphaAndBmpAlphaBitsAllZeroMeanOpaque) {
  Bitmap picture = Solid(4, 4, 0x80112233u);
  picture.pixels[5] = 0x00000000u;
  auto png = DecodePicture(EncodePng(picture));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->bitmap.pixels, picture.pixels);

  Bitmap noAlpha = Solid(4, 4, 0x00445566u);
  auto bmp = DecodePicture(EncodeBmp(noAlpha, 32));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->bitmap.pixels[0], 0xFF445566u);
}

TEST(DecodePicture, JpegIsCloseAndScaledByDctNearTheCell) {
  const Bitmap photo = service::MakeProductBitmap(7, 96, 64);
  const auto full = DecodePicture(EncodeJpeg(photo, 95));
  ASSERT_TRUE(full);
  EXPECT_EQ(full->format, PictureFormat::Jpeg);
  ASSERT_EQ(full->bitmap.width, 96);
  EXPECT_LT(MaxDifference(full->bitmap, photo), 60);
  EXPECT_EQ(full->bitmap.pixels[0] >> 24, 0xFFu);

  // {own width, own height, progressive} -> decoded size for a 60 x 60 cell
  struct Case { int w, h; bool progressive; int bw, bh; };
  const Case cases[] = {
      {800, 800, false, 100, 100},  // 1/8 already covers 60 x 60
      {800, 800, true, 100, 100},
      {400, 400, false, 100, 100},  // 1/8 gives 50: too small, 2/8 gives 100
      {480, 120, false, 60, 15},    // fitted 60 x 15, which 1/8 covers exactly
      {60, 60, false, 60, 60},      // already the cell's size
      {45, 30, false, 45, 30},      // never enlarged by the decoder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const auto d = DecodePicture(EncodeJpeg(service::MakeProductBitmap(1, c.w, c.h), 80, c.progressive), 60, 60);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->width, c.w);
    EXPECT_EQ(d->height, c.h);
    EXPECT_EQ(d->bitmap.width, c.bw);
    EXPECT_EQ(d->bitmap.height, c.bh);
  }
}

// A solid JPEG of `components` samples per pixel: CMYK as Adobe writes it (inverted inks,
// Adobe marker), stored as CMYK or YCCK, or grey with one component.
ByteArray SolidJpeg(int w, int h, std::array<std::uint8_t, 4> stored, J_COLOR_SPACE space) {
  const int components = space == JCS_GRAYSCALE ? 1 : 4;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, space);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(w) * components);
  for (int x = 0; x < w; ++x) std::copy_n(stored.begin(), components, row.begin() + x * components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  ByteArray out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

TEST(DecodePicture, CmykAndGreyJpegsComeOutAsRgb) {
  struct Case { std::array<std::uint8_t, 4> stored; std::uint32_t rgb; };
  const Case cases[] = {
      {{255, 0, 0, 255}, 0xFF0000},      // no cyan ink, full magenta and yellow: red
      {{255, 255, 255, 128}, 0x808080},  // half black
      {{255, 255, 255, 255}, 0xFFFFFF},  // no ink at all
  };
  for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK})
    for (const Case& c : cases) {
      const auto d = DecodePicture(SolidJpeg(16, 16, c.stored, space));
      ASSERT_TRUE(d);
      const std::uint32_t p = d->bitmap.pixels[8 * 16 + 8];
      EXPECT_EQ(p >> 24, 0xFFu);
      for (int shift : {16, 8, 0})
        EXPECT_NEAR(Channel(p, shift), Channel(c.rgb, shift), 3) << space << " " << std::hex << p;
    }
  const auto grey = DecodePicture(SolidJpeg(16, 16, {0x50, 0, 0, 0}, JCS_GRAYSCALE), 60, 60);
  ASSERT_TRUE(grey);
  for (int shift : {16, 8, 0}) EXPECT_NEAR(Channel(grey->bitmap.pixels[0], shift), 0x50, 2);
  EXPECT_EQ(grey->bitmap.pixels[0] >> 24, 0xFFu);
}

TEST(DecodePicture, PaletteAndBitFieldBitmaps) {
  const std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                              0xFFFFFF, 0x808080, 0x123456, 0xABCDEF};
  auto pattern = [](int x, int y) { return static_cast<unsigned>((x + 2 * y) % 8); };
  for (int bits : {4, 8}) {
    SCOPED_TRACE(bits);
    const auto d = DecodePicture(PaletteBmp(13, 5, bits, palette, pattern));
    ASSERT_TRUE(d);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x)
        ASSERT_EQ(d->bitmap.pixels[y * 13 + x], 0xFF000000u | palette[pattern(x, y)]) << x << "," << y;
  }
  auto checker = [](int x, int y) { return static_cast<unsigned>((x + y) & 1); };
  const auto mono = DecodePicture(PaletteBmp(9, 3, 1, {0x000000, 0xFFFFFF}, checker));
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->bitmap.pixels[0], 0xFF000000u);
  EXPECT_EQ(mono->bitmap.pixels[1], 0xFFFFFFFFu);
  EXPECT_EQ(mono->bitmap.pixels[9], 0xFFFFFFFFu);

  // OS/2 core header: 16-bit sizes, 3-byte palette entries; 2 x 1, 8 bits, bottom-up.
  ByteArray core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,  // pixels at 32
                    12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 8, 0,            // core header
                    0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00,              // palette: red, blue
                    1, 0, 0, 0};                                     // row: blue, red
  const auto fromCore = DecodePicture(core);
  ASSERT_TRUE(fromCore);
  EXPECT_EQ(fromCore->bitmap.pixels, (std::vector<std::uint32_t>{kBlue, kRed}));

  // 16 bits, 5-6-5 masks after a plain 40-byte header.
  ByteArray b16(14 + 40 + 12 + 4, 0);
  b16[0] = 'B', b16[1] = 'M';
  Put32(b16, 10, 66);
  Put32(b16, 14, 40);
  Put32(b16, 18, 2);
  Put32(b16, 22, 1);
  b16[26] = 1;
  b16[28] = 16;
  Put32(b16, 30, 3);
  Put32(b16, 54, 0xF800);
  Put32(b16, 58, 0x07E0);
  Put32(b16, 62, 0x001F);
  Put32(b16, 66, 0x07E0F800);  // pixel 0 pure red, pixel 1 pure green
  const auto d16 = DecodePicture(b16);
  ASSERT_TRUE(d16);
  EXPECT_EQ(d16->bitmap.pixels[0], kRed);
  EXPECT_EQ(d16->bitmap.pixels[1], 0xFF00FF00u);
}

TEST(DecodePicture, GifTakesTheFirstFrameOnItsScreenWithTransparency) {
  const std::vector<std::uint32_t> palette = {0xFFFFFF, 0xFF0000, 0x0000FF, 0x00FF00};
  GifFrame first{2, 1, 3, 2, {1, 0, 1, 1, 1, 1}, 0, 10};  // index 0 transparent
  GifFrame second{0, 0, 8, 4, std::vector<std::uint8_t>(32, 2), -1, 10};
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    const auto d = DecodePicture(EncodeGif(8, 4, palette, {first, second}, interlaced));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->width, 8);
    EXPECT_EQ(d->height, 4);
    const auto& px = d->bitmap.pixels;
    EXPECT_EQ(px[0] >> 24, 0u) << "outside the first frame";
    EXPECT_EQ(px[1 * 8 + 2], kRed);
    EXPECT_EQ(px[1 * 8 + 3] >> 24, 0u) << "transparent index";
    EXPECT_EQ(px[2 * 8 + 4], kRed);
    for (auto p : px) EXPECT_NE(p, kBlue) << "the second frame must not be drawn";
  }
}

TEST(DecodeCellPicture, MasksTheCornerColourAndFitsCentred) {
  // 120 x 60, white with a red block: fitted to 60 x 30 at rows 15..44.
  const Bitmap wide = Framed(120, 60, 40, 20, 80, 40);
  for (const ByteArray& bytes : {EncodePng(wide), EncodeBmp(wide), EncodeGif(wide)}) {
    const auto cell = DecodeCellPicture(bytes);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->width, 120);
    EXPECT_EQ(cell->height, 60);
    ASSERT_EQ(cell->pixels.size(), 3600u);
    EXPECT_EQ(At(*cell, 30, 5) >> 24, 0u) << "margin above";
    EXPECT_EQ(At(*cell, 30, 50) >> 24, 0u) << "margin below";
    EXPECT_EQ(At(*cell, 5, 20) >> 24, 0u) << "white ground keyed out";
    EXPECT_EQ(At(*cell, 30, 30), kRed);
    EXPECT_EQ(At(*cell, 20, 25), kRed);
    EXPECT_EQ(At(*cell, 19, 25) >> 24, 0u);
  }

  // A tall picture stands in the middle; a small one is enlarged to the cell.
  const auto tall = DecodeCellPicture(EncodePng(Solid(30, 90, kBlue)));
  ASSERT_TRUE(tall);
  EXPECT_EQ(At(*tall, 19, 30) >> 24, 0u);
  EXPECT_EQ(At(*tall, 20, 30) >> 24, 0u) << "blue corner keys out the blue picture";
  Bitmap tallFramed = Solid(30, 90, kWhite);
  tallFramed.pixels[0] = kBlue;  // corner colour used nowhere else
  const auto tall2 = DecodeCellPicture(EncodePng(tallFramed));
  ASSERT_TRUE(tall2);
  EXPECT_EQ(At(*tall2, 19, 30) >> 24, 0u);
  EXPECT_EQ(At(*tall2, 20, 30), kWhite);
  EXPECT_EQ(At(*tall2, 39, 59), kWhite);
  EXPECT_EQ(At(*tall2, 40, 30) >> 24, 0u);

  const auto small = DecodeCellPicture(EncodeBmp(Framed(20, 20, 10, 0, 20, 20)));
  ASSERT_TRUE(small);
  EXPECT_EQ(At(*small, 0, 0) >> 24, 0u);
  EXPECT_EQ(At(*small, 29, 59) >> 24, 0u);
  EXPECT_EQ(At(*small, 30, 0), kRed);
  EXPECT_EQ(At(*small, 59, 59), kRed);
}

TEST(DecodeCellPicture, CellSizedPictureIsCopiedAndOtherCellSizesWork) {
  Bitmap exact = service::MakeProductBitmap(3, 60, 60);
  exact.pixels[0] = 0xFF010203u;
  const auto cell = DecodeCellPicture(EncodePng(exact));
  ASSERT_TRUE(cell);
  exact.pixels[0] = 0x00010203u;  // only the corner's own colour is keyed
  EXPECT_EQ(cell->pixels, exact.pixels);

  const auto odd = DecodeCellPicture(EncodeJpeg(service::MakeProductBitmap(4, 800, 800)), 32, 24);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->cellWidth, 32);
  EXPECT_EQ(odd->pixels.size(), 32u * 24u);
  EXPECT_FALSE(DecodeCellPicture(EncodePng(exact), 0, 60));
}

TEST(BadPictures, RefusedWithoutCrashing) {
  const Bitmap photo = service::MakeProductBitmap(11, 64, 48);
  const std::vector<std::pair<const char*, ByteArray>> good = {
      {"jpeg", EncodeJpeg(photo)},          {"jpeg progressive", EncodeJpeg(photo, 80, true)},
      {"png", EncodePng(photo)},            {"png interlaced", EncodePng(photo, true)},
      {"gif", EncodeGif(photo)},            {"bmp", EncodeBmp(photo)},
  };
  // Every cut before the last bytes leaves an incomplete picture, which shows nothing.
  for (const auto& [name, bytes] : good) {
    ASSERT_TRUE(DecodeCellPicture(bytes)) << name;
    for (std::size_t cut = 0; cut + 2 < bytes.size(); cut += 1 + bytes.size() / 97) {
      ByteArray head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_FALSE(DecodeCellPicture(head)) << name << " cut at " << cut;
    }
  }

  ByteArray hugeJpeg = EncodeJpeg(Solid(16, 16, kRed));
  for (std::size_t i = 0; i + 9 < hugeJpeg.size(); ++i)
    if (hugeJpeg[i] == 0xFF && hugeJpeg[i + 1] == 0xC0) {  // SOF0: height, width at +5, +7
      hugeJpeg[i + 5] = hugeJpeg[i + 7] = 0xEA;
      hugeJpeg[i + 6] = hugeJpeg[i + 8] = 0x60;
    }
  ByteArray hugeBmp = EncodeBmp(Solid(2, 2, kRed));
  Put32(hugeBmp, 18, 60000);
  Put32(hugeBmp, 22, 60000);
  ByteArray shortBmp = EncodeBmp(Solid(50, 50, kRed));
  shortBmp.resize(shortBmp.size() - 1);
  ByteArray farBmp = EncodeBmp(Solid(2, 2, kRed));
  Put32(farBmp, 10, 0xFFFFFFF0u);
  ByteArray rleBmp = EncodeBmp(Solid(2, 2, kRed));
  Put32(rleBmp, 30, 1);
  GifFrame frame{0, 0, 2, 2, {0, 1, 1, 0}, -1, 0};
  ByteArray hugeGif = EncodeGif(2, 2, {0, 0xFFFFFF}, {frame});
  hugeGif[6] = hugeGif[7] = hugeGif[8] = hugeGif[9] = 0xFF;  // screen 65535 x 65535

  const std::vector<std::pair<const char*, ByteArray>> bad = {
      {"empty", {}},
      {"html", ByteArray{'<', 'h', 't', 'm', 'l', '>'}},
      {"png 60000 x 60000", PngHeaderOnly(60000, 60000)},
      {"png 0 x 10", PngHeaderOnly(0, 10)},
      {"jpeg 60000 x 60000", hugeJpeg},
      {"bmp 60000 x 60000", hugeBmp},
      {"bmp one byte short", shortBmp},
      {"bmp pixels beyond the file", farBmp},
      {"bmp run-length", rleBmp},
      {"gif screen 65535 x 65535", hugeGif},
      {"gif without frame", ByteArray{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0, ';'}},
  };
  for (const auto& [name, bytes] : bad) EXPECT_FALSE(DecodeCellPicture(bytes)) << name;
}

TEST(BadPictures, SideLimitIsExact) {
  for (bool bmp : {false, true}) {
    SCOPED_TRACE(bmp ? "bmp" : "png");
    auto encode = [&](const Bitmap& b) { return bmp ? EncodeBmp(b) : EncodePng(b); };
    EXPECT_TRUE(DecodePicture(encode(Solid(kMaxPictureSide, 1, kRed))));
    EXPECT_FALSE(DecodePicture(encode(Solid(kMaxPictureSide + 1, 1, kRed))));
  }
}

TEST(BadPictures, RandomlyDamagedFilesNeverCrash) {
  const Bitmap photo = service::MakeProductBitmap(5, 40, 30);
  const std::vector<ByteArray> seeds = {EncodeJpeg(photo), EncodeJpeg(photo, 70, true), EncodePng(photo),
                                        EncodePng(photo, true), EncodeGif(photo), EncodeBmp(photo, 32)};
  std::mt19937 random(20261211);
  int decoded = 0;
  for (const ByteArray& seed : seeds)
    for (int round = 0; round < 150; ++round) {
      ByteArray bytes = seed;
      const int flips = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
      if (auto cell = DecodeCellPicture(bytes)) {
        ++decoded;
        ASSERT_EQ(cell->pixels.size(), 3600u);
      }
    }
  EXPECT_GT(decoded, 0);  // the damage left some files readable, so they went the whole way
}

}  // namespace
}  // namespace sellmeter
