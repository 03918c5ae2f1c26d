#include "tests/skin/pe_builder.h"

namespace sellmeter::test {

PeBuilder::PeBuilder() : bytes_(kDataRva, 0) {
  Put16(0, 0x5A4D);
  Put32(0x3C, kNt);
  Put32(kNt, 0x4550);
  Put16(kFileHeader, 0x014C);
  Put16(kNumberOfSections, 1);
  Put16(kFileHeader + 16, 224);
  Put16(kCharacteristics, kExecutableDll);
  Put16(kOptional, 0x010B);
  Put32(kImageBase, kPreferredBase);
  Put32(kSectionAlignment, kAlignment);
  Put32(kOptional + 36, kAlignment);  // FileAlignment
  Put32(kOptional + 60, kDataRva);    // SizeOfHeaders
  Put32(kOptional + 92, 16);          // NumberOfRvaAndSizes
  const char name[8] = {'.', 'd', 'a', 't', 'a', 0, 0, 0};
  for (int i = 0; i < 8; ++i) bytes_[SectionAt(0) + i] = static_cast<std::uint8_t>(name[i]);
  Put32(SectionAt(0) + 12, kDataRva);
  Put32(SectionAt(0) + 20, kDataRva);
}

void PeBuilder::Put16(std::uint32_t offset, std::uint16_t value) {
  if (bytes_.size() < offset + 2) bytes_.resize(offset + 2);
  bytes_[offset] = static_cast<std::uint8_t>(value);
  bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PeBuilder::Put32(std::uint32_t offset, std::uint32_t value) {
  if (bytes_.size() < offset + 4) bytes_.resize(offset + 4);
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t PeBuilder::Get32(std::uint32_t offset) const {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{bytes_[offset + i]} << (8 * i);
  return v;
}

std::uint32_t PeBuilder::Append(const ByteArray& data) {
  while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  const auto rva = static_cast<std::uint32_t>(bytes_.size());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return rva;
}

std::uint32_t PeBuilder::AppendText(const std::string& text) {
  ByteArray data(text.begin(), text.end());
  data.push_back(0);
  return Append(data);
}

std::uint32_t PeBuilder::AppendWords(const std::vector<std::uint32_t>& words) {
  ByteArray data;
  for (std::uint32_t w : words) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  }
  return Append(data);
}

void PeBuilder::PadTo(std::uint32_t rva) {
  if (bytes_.size() < rva) bytes_.resize(rva, 0);
}

void PeBuilder::SetDirectory(int entry, std::uint32_t rva, std::uint32_t size) {
  Put32(DirectoryAt(entry), rva);
  Put32(DirectoryAt(entry) + 4, size);
}

std::vector<std::uint32_t> PeBuilder::AddImports(
    const std::vector<std::pair<std::string, std::vector<ImportItem>>>& libraries) {
  std::vector<std::uint32_t> tables;
  std::vector<std::uint32_t> descriptors;
  for (const auto& [library, items] : libraries) {
    const std::uint32_t nameRva = AppendText(library);
    std::vector<std::uint32_t> slots;
    for (const ImportItem& item : items) {
      if (const auto* name = std::get_if<std::string>(&item)) {
        ByteArray hintName = {0x11, 0x00};  // the hint, which nothing reads
        hintName.insert(hintName.end(), name->begin(), name->end());
        hintName.push_back(0);
        slots.push_back(Append(hintName));
      } else {
        slots.push_back(0x80000000u | std::get<std::uint16_t>(item));
      }
    }
    slots.push_back(0);
    tables.push_back(AppendWords(slots));
    // OriginalFirstThunk 0: the loader reads the names from the address table itself.
    descriptors.insert(descriptors.end(), {0, 0, 0, nameRva, tables.back()});
  }
  descriptors.insert(descriptors.end(), {0, 0, 0, 0, 0});
  const std::uint32_t run = AppendWords(descriptors);
  SetDirectory(1, run, static_cast<std::uint32_t>(4 * descriptors.size()));
  return tables;
}

void PeBuilder::AddExports(std::uint32_t base, const std::vector<std::uint32_t>& functionRvas,
                           const std::vector<ExportName>& names) {
  const std::uint32_t functions = AppendWords(functionRvas);
  std::vector<std::uint32_t> nameRvas;
  for (const ExportName& n : names) {
    // Names one after another, with no padding in between.
    ByteArray text(n.name.begin(), n.name.end());
    text.push_back(0);
    const auto rva = static_cast<std::uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    nameRvas.push_back(rva);
  }
  const std::uint32_t nameTable = AppendWords(nameRvas);
  ByteArray ordinals;
  for (const ExportName& n : names) {
    ordinals.push_back(static_cast<std::uint8_t>(n.index));
    ordinals.push_back(static_cast<std::uint8_t>(n.index >> 8));
  }
  const std::uint32_t ordinalTable = Append(ordinals);
  const std::uint32_t dir = AppendWords(
      {0, 0, 0, 0, base, static_cast<std::uint32_t>(functionRvas.size()),
       static_cast<std::uint32_t>(names.size()), functions, nameTable, ordinalTable});
  SetDirectory(0, dir, 40);
}

void PeBuilder::AddRelocations(
    const std::vector<std::pair<std::uint32_t, std::vector<std::uint16_t>>>& blocks) {
  ByteArray data;
  auto put32 = [&data](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const auto& [page, entries] : blocks) {
    put32(page);
    put32(static_cast<std::uint32_t>(8 + 2 * entries.size()));
    for (std::uint16_t e : entries) {
      data.push_back(static_cast<std::uint8_t>(e));
      data.push_back(static_cast<std::uint8_t>(e >> 8));
    }
  }
  const auto size = static_cast<std::uint32_t>(data.size());
  put32(0);
  put32(0);
  SetDirectory(5, Append(data), size);
}

ByteArray PeBuilder::Build() const {
  PeBuilder copy = *this;
  ByteArray& b = copy.bytes_;
  while (b.size() % 4 != 0) b.push_back(0);
  const auto raw = static_cast<std::uint32_t>(b.size() - kDataRva);
  copy.Put32(SectionAt(0) + 8, raw);   // VirtualSize
  copy.Put32(SectionAt(0) + 16, raw);  // SizeOfRawData
  copy.Put32(kSizeOfImage, (static_cast<std::uint32_t>(b.size()) + kAlignment - 1) / kAlignment * kAlignment);
  return b;
}

}  // namespace sellmeter::test
