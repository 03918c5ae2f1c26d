// GIF through giflib, from memory: the first frame, drawn on the logical screen; the area it
// leaves uncovered and its transparent index are transparent. Later frames are not read.
#include <algorithm>
#include <cstring>
#include <memory>

#include <gif_lib.h>

#include "query/picture_decoders.h"

namespace sellmeter::picture_detail {

namespace {

struct Source {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<Source*>(gif->UserData);
  if (length <= 0) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length),
                                              source->size - source->offset);
  std::memcpy(out, source->data + source->offset, n);
  source->offset += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

}  // namespace

std::optional<DecodedPicture> DecodeGif(const std::uint8_t* data, std::size_t size) {
  Source source{data, size};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadFromMemory, &error));
  if (!gif) return std::nullopt;

  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return std::nullopt;
    if (record == TERMINATE_RECORD_TYPE) return std::nullopt;  // no frame at all
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return std::nullopt;
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1))
        transparent = block[4];
      while (block) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return std::nullopt;
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return std::nullopt;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return std::nullopt;
    break;
  }

  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (!map || !map->Colors || map->ColorCount <= 0) return std::nullopt;
  if (!SizeAllowed(frame.Width, frame.Height)) return std::nullopt;
  int screenWidth = gif->SWidth, screenHeight = gif->SHeight;
  if (screenWidth <= 0 || screenHeight <= 0) {
    screenWidth = frame.Left + frame.Width;
    screenHeight = frame.Top + frame.Height;
  }
  if (!SizeAllowed(screenWidth, screenHeight)) return std::nullopt;

  DecodedPicture picture;
  picture.width = screenWidth;
  picture.height = screenHeight;
  Bitmap& bitmap = picture.bitmap;
  bitmap.width = screenWidth;
  bitmap.height = screenHeight;
  bitmap.pixels.assign(static_cast<std::size_t>(screenWidth) * screenHeight, 0);

  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  auto drawLine = [&](int row) {
    const int y = frame.Top + row;
    if (y < 0 || y >= screenHeight) return;
    std::uint32_t* out = bitmap.pixels.data() + static_cast<std::size_t>(y) * screenWidth;
    for (int i = 0; i < frame.Width; ++i) {
      const int x = frame.Left + i;
      if (x < 0 || x >= screenWidth) continue;
      const int index = line[i];
      if (index == transparent) continue;
      if (index >= map->ColorCount) {
        out[x] = 0xFF000000u;
        continue;
      }
      const GifColorType& c = map->Colors[index];
      out[x] = 0xFF000000u | std::uint32_t{c.Red} << 16 | std::uint32_t{c.Green} << 8 | c.Blue;
    }
  };
  if (frame.Interlace) {
    static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kStart[pass]; row < frame.Height; row += kStep[pass]) {
        if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return std::nullopt;
        drawLine(row);
      }
  } else {
    for (int row = 0; row < frame.Height; ++row) {
      if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return std::nullopt;
      drawLine(row);
    }
  }
  return picture;
}

}  // namespace sellmeter::picture_detail
