// PNG through libpng, from memory, every colour type expanded to 8-bit B, G, R, A.
#include <csetjmp>
#include <cstring>

#include <png.h>

#include "query/picture_decoders.h"

namespace sellmeter::picture_detail {

namespace {

// No ancillary chunk of a product picture needs more; the limit also bounds zTXt/iCCP bombs.
constexpr png_alloc_size_t kMaxChunkBytes = 8 * 1024 * 1024;

struct Source {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (length > source->size - source->offset) png_error(png, "truncated");
  std::memcpy(out, source->data + source->offset, length);
  source->offset += length;
}

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

struct State {
  png_structp png = nullptr;
  png_infop info = nullptr;
  DecodedPicture picture;
  std::vector<png_bytep> rows;
};

bool Run(State& s, Source& source) {
  png_set_read_fn(s.png, &source, ReadFromMemory);
  // libpng refuses larger IHDR sizes itself, before any row is allocated.
  png_set_user_limits(s.png, kMaxPictureSide, kMaxPictureSide);
  png_set_chunk_malloc_max(s.png, kMaxChunkBytes);
  png_read_info(s.png, s.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(s.png, s.info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  if (!SizeAllowed(width, height)) return false;
  s.picture.width = static_cast<int>(width);
  s.picture.height = static_cast<int>(height);

  png_set_expand(s.png);  // palette, low-depth grey and tRNS
  png_set_strip_16(s.png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(s.png);
  png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(s.png);
  png_set_interlace_handling(s.png);
  png_read_update_info(s.png, s.info);
  if (png_get_rowbytes(s.png, s.info) != static_cast<png_size_t>(width) * 4) return false;

  Bitmap& bitmap = s.picture.bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  bitmap.pixels.assign(static_cast<std::size_t>(width) * height, 0);
  s.rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    s.rows[y] = reinterpret_cast<png_bytep>(bitmap.pixels.data() + static_cast<std::size_t>(y) * width);
  png_read_image(s.png, s.rows.data());
  png_read_end(s.png, nullptr);
  return true;
}

}  // namespace

std::optional<DecodedPicture> DecodePng(const std::uint8_t* data, std::size_t size) {
  State s;
  Source source{data, size};
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!s.png) return std::nullopt;
  s.info = png_create_info_struct(s.png);
  volatile bool ok = false;
  if (s.info && setjmp(png_jmpbuf(s.png)) == 0) ok = Run(s, source);
  png_destroy_read_struct(&s.png, s.info ? &s.info : nullptr, nullptr);
  if (!ok) return std::nullopt;
  return std::move(s.picture);
}

}  // namespace sellmeter::picture_detail
