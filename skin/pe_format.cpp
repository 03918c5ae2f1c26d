#include "skin/pe_format.h"

#include <cstring>

namespace sellmeter {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLe32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

namespace {

// Reads consecutive little-endian fields from a fixed-size structure.
class FieldReader {
 public:
  explicit FieldReader(const std::uint8_t* p) : p_(p) {}
  std::uint8_t U8() { return p_[at_++]; }
  std::uint16_t U16() {
    std::uint16_t v = Le16(p_ + at_);
    at_ += 2;
    return v;
  }
  std::uint32_t U32() {
    std::uint32_t v = Le32(p_ + at_);
    at_ += 4;
    return v;
  }
  std::size_t at() const { return at_; }

 private:
  const std::uint8_t* p_;
  std::size_t at_ = 0;
};

}  // namespace

IMAGE_DOS_HEADER DecodeDosHeader(const std::uint8_t* p) {
  FieldReader r(p);
  IMAGE_DOS_HEADER h{};
  h.e_magic = r.U16();
  h.e_cblp = r.U16();
  h.e_cp = r.U16();
  h.e_crlc = r.U16();
  h.e_cparhdr = r.U16();
  h.e_minalloc = r.U16();
  h.e_maxalloc = r.U16();
  h.e_ss = r.U16();
  h.e_sp = r.U16();
  h.e_csum = r.U16();
  h.e_ip = r.U16();
  h.e_cs = r.U16();
  h.e_lfarlc = r.U16();
  h.e_ovno = r.U16();
  for (auto& w : h.e_res) w = r.U16();
  h.e_oemid = r.U16();
  h.e_oeminfo = r.U16();
  for (auto& w : h.e_res2) w = r.U16();
  h.e_lfanew = static_cast<std::int32_t>(r.U32());
  return h;
}

IMAGE_NT_HEADERS32 DecodeNtHeaders(const std::uint8_t* p) {
  FieldReader r(p);
  IMAGE_NT_HEADERS32 h{};
  h.Signature = r.U32();
  IMAGE_FILE_HEADER& f = h.FileHeader;
  f.Machine = r.U16();
  f.NumberOfSections = r.U16();
  f.TimeDateStamp = r.U32();
  f.PointerToSymbolTable = r.U32();
  f.NumberOfSymbols = r.U32();
  f.SizeOfOptionalHeader = r.U16();
  f.Characteristics = r.U16();
  IMAGE_OPTIONAL_HEADER32& o = h.OptionalHeader;
  o.Magic = r.U16();
  o.MajorLinkerVersion = r.U8();
  o.MinorLinkerVersion = r.U8();
  o.SizeOfCode = r.U32();
  o.SizeOfInitializedData = r.U32();
  o.SizeOfUninitializedData = r.U32();
  o.AddressOfEntryPoint = r.U32();
  o.BaseOfCode = r.U32();
  o.BaseOfData = r.U32();
  o.ImageBase = r.U32();
  o.SectionAlignment = r.U32();
  o.FileAlignment = r.U32();
  o.MajorOperatingSystemVersion = r.U16();
  o.MinorOperatingSystemVersion = r.U16();
  o.MajorImageVersion = r.U16();
  o.MinorImageVersion = r.U16();
  o.MajorSubsystemVersion = r.U16();
  o.MinorSubsystemVersion = r.U16();
  o.Win32VersionValue = r.U32();
  o.SizeOfImage = r.U32();
  o.SizeOfHeaders = r.U32();
  o.CheckSum = r.U32();
  o.Subsystem = r.U16();
  o.DllCharacteristics = r.U16();
  o.SizeOfStackReserve = r.U32();
  o.SizeOfStackCommit = r.U32();
  o.SizeOfHeapReserve = r.U32();
  o.SizeOfHeapCommit = r.U32();
  o.LoaderFlags = r.U32();
  o.NumberOfRvaAndSizes = r.U32();
  for (auto& d : o.DataDirectory) {
    d.VirtualAddress = r.U32();
    d.Size = r.U32();
  }
  return h;
}

IMAGE_SECTION_HEADER DecodeSectionHeader(const std::uint8_t* p) {
  FieldReader r(p);
  IMAGE_SECTION_HEADER s{};
  for (auto& c : s.Name) c = r.U8();
  s.VirtualSize = r.U32();
  s.VirtualAddress = r.U32();
  s.SizeOfRawData = r.U32();
  s.PointerToRawData = r.U32();
  s.PointerToRelocations = r.U32();
  s.PointerToLinenumbers = r.U32();
  s.NumberOfRelocations = r.U16();
  s.NumberOfLinenumbers = r.U16();
  s.Characteristics = r.U32();
  return s;
}

IMAGE_BASE_RELOCATION DecodeBaseRelocation(const std::uint8_t* p) {
  return IMAGE_BASE_RELOCATION{Le32(p), Le32(p + 4)};
}

IMAGE_IMPORT_DESCRIPTOR DecodeImportDescriptor(const std::uint8_t* p) {
  return IMAGE_IMPORT_DESCRIPTOR{Le32(p), Le32(p + 4), Le32(p + 8), Le32(p + 12), Le32(p + 16)};
}

IMAGE_EXPORT_DIRECTORY DecodeExportDirectory(const std::uint8_t* p) {
  FieldReader r(p);
  IMAGE_EXPORT_DIRECTORY e{};
  e.Characteristics = r.U32();
  e.TimeDateStamp = r.U32();
  e.MajorVersion = r.U16();
  e.MinorVersion = r.U16();
  e.Name = r.U32();
  e.Base = r.U32();
  e.NumberOfFunctions = r.U32();
  e.NumberOfNames = r.U32();
  e.AddressOfFunctions = r.U32();
  e.AddressOfNames = r.U32();
  e.AddressOfNameOrdinals = r.U32();
  return e;
}

std::optional<std::uint16_t> BlockView::Read16(std::uint64_t offset) const {
  if (const std::uint8_t* p = At(offset, 2)) return Le16(p);
  return std::nullopt;
}

std::optional<std::uint32_t> BlockView::Read32(std::uint64_t offset) const {
  if (const std::uint8_t* p = At(offset, 4)) return Le32(p);
  return std::nullopt;
}

std::optional<std::string_view> BlockView::CString(std::uint64_t offset) const {
  if (offset >= block_.size()) return std::nullopt;
  const std::uint8_t* start = block_.data() + offset;
  const void* end = std::memchr(start, 0, block_.size() - offset);
  if (end == nullptr) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(start),
                          static_cast<const std::uint8_t*>(end) - start);
}

}  // namespace sellmeter
