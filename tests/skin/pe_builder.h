#pragma once
// Writes small 32-bit PE images field by field for the loader tests. The file is laid out as
// it will be mapped: headers at 0, one section ".data" whose file offset equals its RVA
// (kDataRva), so a table written at a file offset lies at the same RVA once mapped.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "text/text_types.h"

namespace sellmeter::test {

inline constexpr std::uint32_t kNt = 0x40;                    // e_lfanew
inline constexpr std::uint32_t kFileHeader = kNt + 4;
inline constexpr std::uint32_t kOptional = kNt + 24;
inline constexpr std::uint32_t kSectionTable = kNt + 248;
inline constexpr std::uint32_t kDataRva = 0x200;
inline constexpr std::uint32_t kAlignment = 0x200;
inline constexpr std::uint32_t kPreferredBase = 0x10000000;

// Field offsets from the start of the file.
inline constexpr std::uint32_t kCharacteristics = kFileHeader + 18;
inline constexpr std::uint32_t kNumberOfSections = kFileHeader + 2;
inline constexpr std::uint32_t kEntryPoint = kOptional + 16;
inline constexpr std::uint32_t kImageBase = kOptional + 28;
inline constexpr std::uint32_t kSectionAlignment = kOptional + 32;
inline constexpr std::uint32_t kSizeOfImage = kOptional + 56;
inline constexpr std::uint32_t DirectoryAt(int entry) { return kOptional + 96 + 8 * entry; }
inline constexpr std::uint32_t SectionAt(int index) { return kSectionTable + 40 * index; }

inline constexpr std::uint16_t kExecutableDll = 0x2102;  // executable, 32-bit machine, DLL

// One import: a name, or an ordinal.
using ImportItem = std::variant<std::string, std::uint16_t>;

struct ExportName {
  std::string name;
  std::uint16_t index;  // into the function table
};

class PeBuilder {
 public:
  // MZ and PE headers, kExecutableDll, preferred base kPreferredBase, one empty data section.
  PeBuilder();

  void Put16(std::uint32_t offset, std::uint16_t value);
  void Put32(std::uint32_t offset, std::uint32_t value);
  std::uint32_t Get32(std::uint32_t offset) const;

  // Appends bytes to the data section (aligned to 4) and gives their RVA.
  std::uint32_t Append(const ByteArray& data);
  std::uint32_t AppendText(const std::string& text);  // with its terminator
  std::uint32_t AppendWords(const std::vector<std::uint32_t>& words);
  // Zero-fills the data section up to rva.
  void PadTo(std::uint32_t rva);

  void SetDirectory(int entry, std::uint32_t rva, std::uint32_t size);

  // An import descriptor run (one descriptor per library, then a zero one), with the import
  // address tables and hint/name entries. Gives the RVA of each library's first table slot.
  std::vector<std::uint32_t> AddImports(
      const std::vector<std::pair<std::string, std::vector<ImportItem>>>& libraries);

  // An export directory with the names laid out one after another in table order.
  void AddExports(std::uint32_t base, const std::vector<std::uint32_t>& functionRvas,
                  const std::vector<ExportName>& names);

  // Base relocation blocks: each (page RVA, entries), ended by a block with page RVA 0.
  void AddRelocations(const std::vector<std::pair<std::uint32_t, std::vector<std::uint16_t>>>& blocks);

  // The file: the data section's sizes and SizeOfImage are set from what was appended.
  ByteArray Build() const;

 private:
  ByteArray bytes_;
};

}  // namespace sellmeter::test
