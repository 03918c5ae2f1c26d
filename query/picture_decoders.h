#pragma once
// The per-format decoders behind DecodePicture. Each returns nothing for bytes it cannot
// decode completely, and refuses a declared size beyond kMaxPictureSide / kMaxPicturePixels
// before it allocates pixels.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "query/picture.h"

namespace sellmeter::picture_detail {

// True when a width x height picture is within the decoders' limits.
bool SizeAllowed(std::int64_t width, std::int64_t height);

std::optional<DecodedPicture> DecodeJpeg(const std::uint8_t* data, std::size_t size,
                                         int cellWidth, int cellHeight);
std::optional<DecodedPicture> DecodePng(const std::uint8_t* data, std::size_t size);
std::optional<DecodedPicture> DecodeGif(const std::uint8_t* data, std::size_t size);
std::optional<DecodedPicture> DecodeBmp(const std::uint8_t* data, std::size_t size);

}  // namespace sellmeter::picture_detail
