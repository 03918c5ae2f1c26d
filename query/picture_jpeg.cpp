// JPEG through libjpeg(-turbo), from memory, reduced by DCT scaling when the picture is only
// going into a small cell.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "query/picture_decoders.h"

namespace sellmeter::picture_detail {

namespace {

// A progressive file can carry thousands of tiny scans that each cost a full pass.
constexpr int kMaxScans = 500;
// Progressive and multi-scan files keep the whole coefficient array in memory.
constexpr long kMaxDecoderMemory = 96L * 1024 * 1024;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  bool truncated = false;
};

void OnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings are not printed; the one for data that ends early is remembered, since a truncated
// download would otherwise come out as a picture padded with grey.
void OnMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && err->base.msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void OnProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Adobe writes CMYK inverted; the usual conversion multiplies each ink by black.
void CmykRowToBgra(const JSAMPLE* in, std::uint32_t* out, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    const std::uint32_t r = c * k / 255, g = m * k / 255, b = y * k / 255;
    out[x] = 0xFF000000u | r << 16 | g << 8 | b;
  }
}

// Everything that must survive a longjmp lives here, outside the frame that calls setjmp.
struct State {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  jpeg_progress_mgr progress{};
  DecodedPicture picture;
  std::vector<JSAMPLE> cmykRow;
};

bool Run(State& s, const std::uint8_t* data, std::size_t size, int cellWidth, int cellHeight) {
  jpeg_decompress_struct& cinfo = s.cinfo;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (!SizeAllowed(cinfo.image_width, cinfo.image_height)) return false;
  s.picture.width = static_cast<int>(cinfo.image_width);
  s.picture.height = static_cast<int>(cinfo.image_height);

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  cinfo.scale_num = 8;
  cinfo.scale_denom = 8;
  if (cellWidth > 0 && cellHeight > 0) {
    int fw, fh;
    FittedSize(s.picture.width, s.picture.height, cellWidth, cellHeight, &fw, &fh);
    for (unsigned num = 1; num <= 8; ++num) {
      const unsigned long w = (cinfo.image_width * num + 7) / 8;
      const unsigned long h = (cinfo.image_height * num + 7) / 8;
      if (w >= static_cast<unsigned long>(fw) && h >= static_cast<unsigned long>(fh)) {
        cinfo.scale_num = num;
        break;
      }
    }
  }
  if (!jpeg_start_decompress(&cinfo)) return false;
  const JDIMENSION width = cinfo.output_width, height = cinfo.output_height;
  if (!SizeAllowed(width, height)) return false;
  Bitmap& bitmap = s.picture.bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  bitmap.pixels.assign(static_cast<std::size_t>(width) * height, 0);
  if (cmyk) s.cmykRow.resize(static_cast<std::size_t>(width) * 4);
  while (cinfo.output_scanline < height) {
    std::uint32_t* row = bitmap.pixels.data() + static_cast<std::size_t>(cinfo.output_scanline) * width;
    JSAMPROW target = cmyk ? s.cmykRow.data() : reinterpret_cast<JSAMPROW>(row);
    if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) return false;
    if (cmyk) CmykRowToBgra(s.cmykRow.data(), row, width, cinfo.saw_Adobe_marker);
    if (s.err.truncated) return false;
  }
  jpeg_finish_decompress(&cinfo);
  return !s.err.truncated;
}

}  // namespace

std::optional<DecodedPicture> DecodeJpeg(const std::uint8_t* data, std::size_t size,
                                         int cellWidth, int cellHeight) {
  State s;
  s.cinfo.err = jpeg_std_error(&s.err.base);
  s.err.base.error_exit = OnError;
  s.err.base.emit_message = OnMessage;
  s.err.base.output_message = [](j_common_ptr) {};
  s.progress.progress_monitor = OnProgress;
  volatile bool ok = false;
  if (setjmp(s.err.jump) == 0) {
    jpeg_create_decompress(&s.cinfo);
    s.cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    s.cinfo.progress = &s.progress;
    ok = Run(s, data, size, cellWidth, cellHeight);
  }
  jpeg_destroy_decompress(&s.cinfo);
  if (!ok) return std::nullopt;
  return std::move(s.picture);
}

}  // namespace sellmeter::picture_detail
