#include "skin/mapped_image.h"

#include <cstring>

#include "skin/module_host.h"

namespace sellmeter {

std::int64_t AlignUp(std::int64_t value, std::uint32_t alignment) {
  if (alignment == 0) return value;
  const std::int64_t a = alignment;
  const std::int64_t sum = value + a - 1;
  // Floor division, as the real quotient is floored (also for a negative sum).
  std::int64_t quotient = sum / a;
  if (sum % a != 0 && sum < 0) --quotient;
  return quotient * a;
}

bool ApplyRelocations(std::span<std::uint8_t> block, std::uint32_t base, std::uint32_t imageBase,
                      std::uint32_t relocRva) {
  const BlockView view(block);
  const std::uint32_t delta = base - imageBase;
  std::uint64_t offset = relocRva;
  for (;;) {
    const std::uint8_t* header = view.At(offset, kBaseRelocationSize);
    if (header == nullptr) return false;
    const IMAGE_BASE_RELOCATION reloc = DecodeBaseRelocation(header);
    if (reloc.VirtualAddress == 0) return true;
    // A block shorter than its own header would never advance the walk.
    if (reloc.SizeOfBlock < kBaseRelocationSize) return false;
    const std::uint64_t count = (reloc.SizeOfBlock - kBaseRelocationSize) / 2;
    const std::uint8_t* entries = view.At(offset + kBaseRelocationSize, 2 * count);
    if (entries == nullptr) return false;
    for (std::uint64_t k = 0; k < count; ++k) {
      const std::uint16_t entry = Le16(entries + 2 * k);
      if ((entry >> 12) != kRelBasedHighLow) continue;
      std::uint8_t* word = view.At(std::uint64_t{reloc.VirtualAddress} + (entry & 0xFFF), 4);
      if (word == nullptr) return false;
      PutLe32(word, Le32(word) + delta);
    }
    offset += reloc.SizeOfBlock;
  }
}

std::optional<MappedImage> MapImage(std::span<const std::uint8_t> image) {
  const std::uint64_t length = image.size();
  if (length < kDosHeaderSize) return std::nullopt;
  MappedImage mapped;
  mapped.dosHeader = DecodeDosHeader(image.data());
  if (mapped.dosHeader.e_magic != kDosMagic) return std::nullopt;
  const std::int64_t lfanew = mapped.dosHeader.e_lfanew;
  if (lfanew < 0 || length < static_cast<std::uint64_t>(lfanew) + kNtHeadersSize) {
    return std::nullopt;
  }
  mapped.ntHeaders = DecodeNtHeaders(image.data() + lfanew);
  const IMAGE_NT_HEADERS32& nt = mapped.ntHeaders;
  const IMAGE_OPTIONAL_HEADER32& opt = nt.OptionalHeader;
  if (nt.Signature != kNtSignature) return std::nullopt;
  if ((nt.FileHeader.Characteristics & kImageFileExecutableImage) == 0) return std::nullopt;

  // The section table always starts right behind the 248 bytes of NT headers.
  const std::uint64_t sectionCount = nt.FileHeader.NumberOfSections;
  const std::uint64_t headerBytes =
      static_cast<std::uint64_t>(lfanew) + kNtHeadersSize + kSectionHeaderSize * sectionCount;
  if (length < headerBytes) return std::nullopt;
  mapped.sections.reserve(sectionCount);
  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    mapped.sections.push_back(DecodeSectionHeader(image.data() + lfanew + kNtHeadersSize +
                                                  kSectionHeaderSize * i));
  }

  // The header's SizeOfImage is only ever enlarged, and only the low 16 bits of a section's
  // VirtualSize take part.
  std::int64_t size = static_cast<std::int32_t>(opt.SizeOfImage);
  for (const IMAGE_SECTION_HEADER& s : mapped.sections) {
    if (opt.SectionAlignment == 0) return std::nullopt;
    const std::int64_t low = s.VirtualSize & 0xFFFF;
    const std::int64_t raw = static_cast<std::int32_t>(s.SizeOfRawData);
    const std::int64_t extent = raw > low ? raw : low;
    const std::int64_t end = AlignUp(std::int64_t{s.VirtualAddress} + extent, opt.SectionAlignment);
    if (end > size) size = end;
  }
  if (size == 0) return std::nullopt;
  // No 32-bit address space holds a block of a negative size or one beyond 4 GiB.
  if (size < 0 || size > 0xFFFFFFFFll) return std::nullopt;

  // Every copy must come from inside the buffer and land inside the block.
  if (headerBytes > static_cast<std::uint64_t>(size)) return std::nullopt;
  for (const IMAGE_SECTION_HEADER& s : mapped.sections) {
    const std::int64_t raw = static_cast<std::int32_t>(s.SizeOfRawData);
    if (raw <= 0 || s.VirtualAddress == 0) continue;
    if (std::uint64_t{s.PointerToRawData} + raw > length) return std::nullopt;
    if (std::int64_t{s.VirtualAddress} + raw > size) return std::nullopt;
  }

  ModuleHost& host = CurrentModuleHost();
  const auto reserveSize = static_cast<std::uint32_t>(size);
  std::uint32_t base =
      host.VirtualAlloc(opt.ImageBase, reserveSize, kMemCommit | kMemReserve, kPageExecuteReadWrite);
  if (base == 0) {
    base = host.VirtualAlloc(0, reserveSize, kMemCommit | kMemReserve, kPageExecuteReadWrite);
  }
  if (base == 0) return std::nullopt;
  std::span<std::uint8_t> block = host.ReservedBlock(base);
  if (block.size() < reserveSize) {
    host.VirtualFree(base, 0, kMemRelease);
    return std::nullopt;
  }
  block = block.first(reserveSize);
  mapped.base = base;
  mapped.size = reserveSize;

  std::memcpy(block.data(), image.data(), headerBytes);
  for (const IMAGE_SECTION_HEADER& s : mapped.sections) {
    const std::int64_t raw = static_cast<std::int32_t>(s.SizeOfRawData);
    if (raw <= 0 || s.VirtualAddress == 0) continue;
    std::memcpy(block.data() + s.VirtualAddress, image.data() + s.PointerToRawData,
                static_cast<std::size_t>(raw));
  }

  const IMAGE_DATA_DIRECTORY& relocs = opt.DataDirectory[kDirectoryBaseReloc];
  if (static_cast<std::int32_t>(relocs.Size) > 0 &&
      !ApplyRelocations(block, base, opt.ImageBase, relocs.VirtualAddress)) {
    host.VirtualFree(base, 0, kMemRelease);
    return std::nullopt;
  }
  return mapped;
}

}  // namespace sellmeter
