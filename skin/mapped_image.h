#pragma once
// Placing a 32-bit DLL image, laid out as in a file, into freshly reserved zero-filled memory:
// header checks, the image size rule, the header and section copies and base relocations.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "skin/pe_format.h"

namespace sellmeter {

struct MappedImage {
  std::uint32_t base = 0;  // 32-bit address of the reserved block
  std::uint32_t size = 0;  // bytes reserved
  IMAGE_DOS_HEADER dosHeader{};
  IMAGE_NT_HEADERS32 ntHeaders{};
  std::vector<IMAGE_SECTION_HEADER> sections;  // in table order
};

// The mapped image, or nothing (and nothing reserved) when a check fails or no memory is had.
// The block belongs to the caller, who releases it with the host's VirtualFree. The buffer is
// never changed.
std::optional<MappedImage> MapImage(std::span<const std::uint8_t> image);

// alignment × floor((value + alignment − 1) / alignment), without 32-bit overflow. For
// alignment > 0 and value >= 0, the smallest multiple of alignment not below value. An
// alignment of 0 gives value unchanged (MapImage refuses such images before aligning).
std::int64_t AlignUp(std::int64_t value, std::uint32_t alignment);

// Walks the base relocation blocks of the image mapped in block (at address base, preferred
// base imageBase) from directory offset relocRva, adding base − imageBase to every HIGHLOW
// word. False when a block header, an entry or a target lies outside the block or a block is
// shorter than its own header; the block is then partly relocated and must be released.
bool ApplyRelocations(std::span<std::uint8_t> block, std::uint32_t base, std::uint32_t imageBase,
                      std::uint32_t relocRva);

}  // namespace sellmeter
