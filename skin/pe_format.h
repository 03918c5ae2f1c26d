#pragma once
// Records of the 32-bit PE/COFF structures the loader reads. Each is filled by copying its
// fixed number of little-endian bytes field by field, never by casting a pointer into a
// buffer, so they read the same on any host and from any (unaligned, hostile) buffer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace sellmeter {

inline constexpr std::uint16_t kDosMagic = 0x5A4D;      // "MZ"
inline constexpr std::uint32_t kNtSignature = 0x4550;   // "PE\0\0"
inline constexpr std::uint16_t kImageFileExecutableImage = 0x0002;
inline constexpr std::uint16_t kImageFileDll = 0x2000;
inline constexpr unsigned kRelBasedAbsolute = 0;
inline constexpr unsigned kRelBasedHighLow = 3;

inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kNtHeadersSize = 248;
inline constexpr std::size_t kFileHeaderOffset = 4;
inline constexpr std::size_t kOptionalHeaderOffset = 24;
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kBaseRelocationSize = 8;
inline constexpr std::size_t kImportDescriptorSize = 20;
inline constexpr std::size_t kExportDirectorySize = 40;

inline constexpr int kDirectoryExport = 0;
inline constexpr int kDirectoryImport = 1;
inline constexpr int kDirectoryBaseReloc = 5;

struct IMAGE_DOS_HEADER {
  std::uint16_t e_magic, e_cblp, e_cp, e_crlc, e_cparhdr, e_minalloc, e_maxalloc, e_ss, e_sp,
      e_csum, e_ip, e_cs, e_lfarlc, e_ovno;
  std::uint16_t e_res[4];
  std::uint16_t e_oemid, e_oeminfo;
  std::uint16_t e_res2[10];
  std::int32_t e_lfanew;
};

struct IMAGE_FILE_HEADER {
  std::uint16_t Machine, NumberOfSections;
  std::uint32_t TimeDateStamp, PointerToSymbolTable, NumberOfSymbols;
  std::uint16_t SizeOfOptionalHeader, Characteristics;
};

struct IMAGE_DATA_DIRECTORY {
  std::uint32_t VirtualAddress, Size;
};

struct IMAGE_OPTIONAL_HEADER32 {
  std::uint16_t Magic;
  std::uint8_t MajorLinkerVersion, MinorLinkerVersion;
  std::uint32_t SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint,
      BaseOfCode, BaseOfData, ImageBase, SectionAlignment, FileAlignment;
  std::uint16_t MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion,
      MinorImageVersion, MajorSubsystemVersion, MinorSubsystemVersion;
  std::uint32_t Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
  std::uint16_t Subsystem, DllCharacteristics;
  std::uint32_t SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit,
      LoaderFlags, NumberOfRvaAndSizes;
  IMAGE_DATA_DIRECTORY DataDirectory[16];
};

struct IMAGE_NT_HEADERS32 {
  std::uint32_t Signature;
  IMAGE_FILE_HEADER FileHeader;
  IMAGE_OPTIONAL_HEADER32 OptionalHeader;
};

struct IMAGE_SECTION_HEADER {
  std::uint8_t Name[8];
  std::uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData,
      PointerToRelocations, PointerToLinenumbers;
  std::uint16_t NumberOfRelocations, NumberOfLinenumbers;
  std::uint32_t Characteristics;
};

struct IMAGE_BASE_RELOCATION {
  std::uint32_t VirtualAddress, SizeOfBlock;
};

struct IMAGE_IMPORT_DESCRIPTOR {
  std::uint32_t OriginalFirstThunk, TimeDateStamp, ForwarderChain, Name, FirstThunk;
};

struct IMAGE_EXPORT_DIRECTORY {
  std::uint32_t Characteristics, TimeDateStamp;
  std::uint16_t MajorVersion, MinorVersion;
  std::uint32_t Name, Base, NumberOfFunctions, NumberOfNames, AddressOfFunctions, AddressOfNames,
      AddressOfNameOrdinals;
};

// Little-endian reads from bytes; the caller has checked that the bytes are there.
std::uint16_t Le16(const std::uint8_t* p);
std::uint32_t Le32(const std::uint8_t* p);
void PutLe32(std::uint8_t* p, std::uint32_t value);

// Each decoder reads exactly the structure's size from p.
IMAGE_DOS_HEADER DecodeDosHeader(const std::uint8_t* p);
IMAGE_NT_HEADERS32 DecodeNtHeaders(const std::uint8_t* p);
IMAGE_SECTION_HEADER DecodeSectionHeader(const std::uint8_t* p);
IMAGE_BASE_RELOCATION DecodeBaseRelocation(const std::uint8_t* p);
IMAGE_IMPORT_DESCRIPTOR DecodeImportDescriptor(const std::uint8_t* p);
IMAGE_EXPORT_DIRECTORY DecodeExportDirectory(const std::uint8_t* p);

// Bounded access to a mapped block: every read names an offset and a length and fails (or
// gives nothing) when any byte of it lies outside the block.
class BlockView {
 public:
  explicit BlockView(std::span<std::uint8_t> block) : block_(block) {}
  std::size_t size() const { return block_.size(); }
  bool Holds(std::uint64_t offset, std::uint64_t length) const {
    return offset <= block_.size() && length <= block_.size() - offset;
  }
  // Pointer to length bytes at offset, or nullptr.
  std::uint8_t* At(std::uint64_t offset, std::uint64_t length) const {
    return Holds(offset, length) ? block_.data() + offset : nullptr;
  }
  std::optional<std::uint16_t> Read16(std::uint64_t offset) const;
  std::optional<std::uint32_t> Read32(std::uint64_t offset) const;
  // The NUL-terminated text at offset, without its terminator, when the terminator lies inside
  // the block.
  std::optional<std::string_view> CString(std::uint64_t offset) const;

 private:
  std::span<std::uint8_t> block_;
};

}  // namespace sellmeter
