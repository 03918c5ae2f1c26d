#include "skin/memory_module.h"

#include <optional>
#include <string_view>

#include "skin/mapped_image.h"
#include "skin/module_host.h"
#include "skin/pe_format.h"

namespace sellmeter {
namespace {

inline constexpr std::uint32_t kOrdinalFlag = 0x80000000u;
inline constexpr std::size_t kOrdinalTextSize = 16;

// The NT headers of the image mapped in view, read without judging the signatures.
std::optional<IMAGE_NT_HEADERS32> ReadNtHeaders(const BlockView& view) {
  const std::uint8_t* dos = view.At(0, kDosHeaderSize);
  if (dos == nullptr) return std::nullopt;
  const std::int32_t lfanew = DecodeDosHeader(dos).e_lfanew;
  if (lfanew < 0) return std::nullopt;
  const std::uint8_t* nt = view.At(static_cast<std::uint64_t>(lfanew), kNtHeadersSize);
  if (nt == nullptr) return std::nullopt;
  return DecodeNtHeaders(nt);
}

// The NT headers when both the "MZ" and the "PE" signatures are in place.
std::optional<IMAGE_NT_HEADERS32> ReadSignedHeaders(const BlockView& view) {
  const std::uint8_t* dos = view.At(0, kDosHeaderSize);
  if (dos == nullptr || DecodeDosHeader(dos).e_magic != kDosMagic) return std::nullopt;
  std::optional<IMAGE_NT_HEADERS32> nt = ReadNtHeaders(view);
  if (!nt || nt->Signature != kNtSignature) return std::nullopt;
  return nt;
}

// A DLL's entry point RVA, or nothing when there is none to call: no DLL flag, an RVA of 0
// (resource-only DLLs, whose image start is no code), or an RVA outside the image.
std::optional<std::uint32_t> EntryToCall(const IMAGE_NT_HEADERS32& nt, std::size_t imageSize) {
  if ((nt.FileHeader.Characteristics & kImageFileDll) == 0) return std::nullopt;
  const std::uint32_t rva = nt.OptionalHeader.AddressOfEntryPoint;
  if (rva == 0 || rva >= imageSize) return std::nullopt;
  return rva;
}

// The plain decimal text of a signed 32-bit integer: digits without leading zeros, a minus
// sign before negative values, "0" for zero.
std::optional<std::int32_t> OrdinalRequest(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 10) return std::nullopt;
  if (text.front() == '0' && (text.size() > 1 || negative)) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// The function RVA at index of the export function table, as an address inside the image,
// or 0.
std::uint32_t FunctionAddress(const BlockView& view, std::uint32_t base,
                              const IMAGE_EXPORT_DIRECTORY& dir, std::uint64_t index) {
  const std::optional<std::uint32_t> rva = view.Read32(dir.AddressOfFunctions + 4 * index);
  if (!rva || *rva == 0 || *rva >= view.size()) return 0;
  return base + *rva;
}

// Where the decimal text of an ordinal lives while the resolver may read it: a small block of
// the host, so that it has a 32-bit address like the import names inside the image.
class OrdinalText {
 public:
  explicit OrdinalText(ModuleHost& host) : host_(host) {}
  ~OrdinalText() {
    if (address_ != 0) host_.VirtualFree(address_, 0, kMemRelease);
  }
  OrdinalText(const OrdinalText&) = delete;
  OrdinalText& operator=(const OrdinalText&) = delete;

  // Writes the ordinal's decimal text and gives its address, or 0 without memory.
  std::uint32_t Write(std::uint16_t ordinal) {
    if (address_ == 0) {
      address_ = host_.VirtualAlloc(0, kOrdinalTextSize, kMemCommit | kMemReserve, kPageReadWrite);
      if (address_ == 0) return 0;
    }
    std::span<std::uint8_t> text = host_.ReservedBlock(address_);
    if (text.size() < kOrdinalTextSize) return 0;
    char digits[8];
    int n = 0;
    std::uint32_t v = ordinal;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    for (int i = 0; i < n; ++i) text[i] = static_cast<std::uint8_t>(digits[n - 1 - i]);
    text[n] = 0;
    return address_;
  }

 private:
  ModuleHost& host_;
  std::uint32_t address_ = 0;
};

std::uint32_t LoadSteps(std::span<const std::uint8_t> image, std::uint32_t resolver,
                        std::uint32_t userValue) {
  std::optional<MappedImage> mapped = MapImage(image);
  if (!mapped) return 0;
  ModuleHost& host = CurrentModuleHost();
  const std::uint32_t base = mapped->base;
  const IMAGE_NT_HEADERS32& nt = mapped->ntHeaders;
  const IMAGE_DATA_DIRECTORY& imports = nt.OptionalHeader.DataDirectory[kDirectoryImport];
  if (static_cast<std::int32_t>(imports.VirtualAddress) > 0 &&
      !BindImports(base, resolver, userValue)) {
    host.VirtualFree(base, 0, kMemRelease);
    return 0;
  }
  if ((nt.FileHeader.Characteristics & kImageFileDll) == 0) return base;
  const std::uint32_t rva = nt.OptionalHeader.AddressOfEntryPoint;
  if (rva >= mapped->size) {
    host.VirtualFree(base, 0, kMemRelease);
    return 0;
  }
  const std::optional<std::uint32_t> entryRva = EntryToCall(nt, mapped->size);
  if (!entryRva) return base;
  // The module handle word is 0, not the base.
  const std::uint32_t entry = base + *entryRva;
  if (CallAddress(entry, 0, kDllProcessAttach, 0) != 0) return base;
  CallAddress(entry, 0, kDllProcessDetach, 0);
  host.VirtualFree(base, 0, kMemRelease);
  return 0;
}

}  // namespace

bool BindImports(std::uint32_t base, std::uint32_t resolver, std::uint32_t userValue) {
  ModuleHost& host = CurrentModuleHost();
  const BlockView view(host.ReservedBlock(base));
  const std::optional<IMAGE_NT_HEADERS32> nt = ReadNtHeaders(view);
  if (!nt) return false;
  OrdinalText ordinalText(host);
  std::uint64_t offset = nt->OptionalHeader.DataDirectory[kDirectoryImport].VirtualAddress;
  for (;; offset += kImportDescriptorSize) {
    const std::uint8_t* raw = view.At(offset, kImportDescriptorSize);
    if (raw == nullptr) return false;
    const IMAGE_IMPORT_DESCRIPTOR descriptor = DecodeImportDescriptor(raw);
    if (descriptor.FirstThunk == 0) return true;
    const std::optional<std::string_view> library = view.CString(descriptor.Name);
    if (!library) return false;
    const std::uint32_t handle = host.LoadLibraryA(library->data());
    // Names are read from the import address table itself, so images without a lookup table
    // (OriginalFirstThunk 0) bind alike.
    for (std::uint64_t slot = descriptor.FirstThunk;; slot += 4) {
      std::uint8_t* cell = view.At(slot, 4);
      if (cell == nullptr) return false;
      const std::uint32_t entry = Le32(cell);
      if (entry == 0) break;
      ProcKey key;
      std::uint32_t nameWord = 0;
      if ((entry & kOrdinalFlag) != 0) {
        key.ordinal = static_cast<std::uint16_t>(entry & 0xFFFF);
        nameWord = ordinalText.Write(key.ordinal);
        if (nameWord == 0) return false;
      } else {
        // Behind the 16-bit hint.
        const std::optional<std::string_view> name = view.CString(std::uint64_t{entry} + 2);
        if (!name) return false;
        key.name = name->data();
        nameWord = base + entry + 2;
      }
      std::uint32_t address = 0;
      if (resolver != 0) address = CallAddress(resolver, base + descriptor.Name, nameWord, userValue);
      if (address == 0) address = host.GetProcAddress(handle, key);
      if (address == 0) return false;
      PutLe32(cell, address);
    }
  }
}

bool ReleaseImage(std::uint32_t base) {
  ModuleHost& host = CurrentModuleHost();
  const BlockView view(host.ReservedBlock(base));
  const std::optional<IMAGE_NT_HEADERS32> nt = ReadSignedHeaders(view);
  if (!nt) return false;
  if (const std::optional<std::uint32_t> rva = EntryToCall(*nt, view.size())) {
    CallAddress(base + *rva, 0, kDllProcessDetach, 0);
  }
  return host.VirtualFree(base, 0, kMemRelease);
}

std::uint32_t CallAddress(std::uint32_t address, std::uint32_t w1, std::uint32_t w2,
                          std::uint32_t w3, std::uint32_t w4, std::uint32_t w5, std::uint32_t w6,
                          std::uint32_t w7, std::uint32_t w8, std::uint32_t w9, std::uint32_t w10) {
  return CurrentModuleHost().CallAddress(address, CallWords{w1, w2, w3, w4, w5, w6, w7, w8, w9, w10});
}

bool MemoryModule::LoadFromMemory(std::span<const std::uint8_t> image, std::uint32_t resolver,
                                  std::uint32_t userValue) {
  if (base_ != 0) Free();
  base_ = LoadSteps(image, resolver, userValue);
  return base_ != 0;
}

bool MemoryModule::Free() {
  if (base_ == 0) return true;
  if (ReleaseImage(base_)) base_ = 0;
  return base_ == 0;
}

std::uint32_t MemoryModule::GetEntryAddress() const {
  if (base_ == 0) return 0;
  const BlockView view(CurrentModuleHost().ReservedBlock(base_));
  const std::optional<IMAGE_NT_HEADERS32> nt = ReadNtHeaders(view);
  if (!nt || nt->OptionalHeader.AddressOfEntryPoint >= view.size()) return 0;
  return base_ + nt->OptionalHeader.AddressOfEntryPoint;
}

std::uint32_t MemoryModule::GetExport(const Text& name) const {
  if (base_ == 0) return 0;
  const BlockView view(CurrentModuleHost().ReservedBlock(base_));
  const std::optional<IMAGE_NT_HEADERS32> nt = ReadSignedHeaders(view);
  if (!nt) return 0;
  const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[kDirectoryExport];
  if (exports.Size == 0) return 0;
  const std::uint8_t* raw = view.At(exports.VirtualAddress, kExportDirectorySize);
  if (raw == nullptr) return 0;
  const IMAGE_EXPORT_DIRECTORY dir = DecodeExportDirectory(raw);

  if (const std::optional<std::int32_t> ordinal = OrdinalRequest(name)) {
    const std::int64_t index = std::int64_t{*ordinal} - std::int64_t{dir.Base};
    if (index < 0 || index >= std::int64_t{dir.NumberOfFunctions}) return 0;
    return FunctionAddress(view, base_, dir, static_cast<std::uint64_t>(index));
  }

  if (dir.NumberOfNames == 0) return 0;
  // Only the first name-table entry is read: linkers lay the names out one after another in
  // table order, each right behind the terminator of the one before.
  const std::optional<std::uint32_t> first = view.Read32(dir.AddressOfNames);
  if (!first) return 0;
  std::uint64_t p = *first;
  std::uint64_t q = dir.AddressOfNameOrdinals;
  for (std::uint32_t k = 0; k < dir.NumberOfNames; ++k, q += 2) {
    const std::optional<std::string_view> s = view.CString(p);
    const std::optional<std::uint16_t> index = view.Read16(q);
    if (!s || !index) return 0;
    if (*index < dir.NumberOfFunctions && *s == name) {
      // A matching name whose function RVA is 0 does not end the search.
      if (std::uint32_t address = FunctionAddress(view, base_, dir, *index)) return address;
    }
    p += s->size() + 1;
  }
  return 0;
}

}  // namespace sellmeter
