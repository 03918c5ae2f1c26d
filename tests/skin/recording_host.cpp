#include "tests/skin/recording_host.h"

#include <cstdio>
#include <cstring>

namespace sellmeter::test {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

std::uint32_t RecordingHost::VirtualAlloc(std::uint32_t address, std::uint32_t size,
                                          std::uint32_t allocationType, std::uint32_t protect) {
  log.push_back("VirtualAlloc " + Hex(address) + " " + Hex(size) + " " + Hex(allocationType) +
                " " + Hex(protect));
  if (refuseAll || size == 0) return 0;
  if (address == 0) {
    address = nextAnywhere;
    nextAnywhere += (size + 0xFFFF) & ~0xFFFFu;
  } else if (taken.count(address) != 0) {
    return 0;
  }
  for (const auto& [base, bytes] : blocks_) {
    if (address < base + bytes.size() && base < std::uint64_t{address} + size) return 0;
  }
  blocks_[address].assign(size, 0);
  return address;
}

bool RecordingHost::VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t freeType) {
  log.push_back("VirtualFree " + Hex(address) + " " + Hex(size) + " " + Hex(freeType));
  if (size != 0 || freeType != kMemRelease) return false;
  return blocks_.erase(address) == 1;
}

std::span<std::uint8_t> RecordingHost::ReservedBlock(std::uint32_t base) {
  auto it = blocks_.find(base);
  if (it == blocks_.end()) return {};
  return it->second;
}

std::uint32_t RecordingHost::LoadLibraryA(const char* name) {
  log.push_back(std::string("LoadLibraryA ") + name);
  auto it = libraries.find(name);
  return it == libraries.end() ? 0 : it->second;
}

std::uint32_t RecordingHost::GetProcAddress(std::uint32_t module, ProcKey key) {
  const std::string what = key.name != nullptr ? std::string(key.name) : "#" + std::to_string(key.ordinal);
  log.push_back("GetProcAddress " + Hex(module) + " " + what);
  auto it = symbols.find({module, what});
  return it == symbols.end() ? 0 : it->second;
}

std::uint32_t RecordingHost::CallAddress(std::uint32_t address, const CallWords& words) {
  std::string line = "CallAddress " + Hex(address);
  // Trailing zero words are left out of the log line, but at least three are shown.
  std::size_t shown = words.size();
  while (shown > 3 && words[shown - 1] == 0) --shown;
  for (std::size_t i = 0; i < shown; ++i) line += " " + Hex(words[i]);
  log.push_back(line);
  return onCall ? onCall(address, words) : 1;
}

std::string RecordingHost::TextAt(std::uint32_t address) const {
  for (const auto& [base, bytes] : blocks_) {
    if (address < base || address - base >= bytes.size()) continue;
    const std::size_t at = address - base;
    const void* end = std::memchr(bytes.data() + at, 0, bytes.size() - at);
    if (end == nullptr) break;
    return std::string(reinterpret_cast<const char*>(bytes.data() + at),
                       static_cast<const std::uint8_t*>(end) - (bytes.data() + at));
  }
  return "<bad>";
}

std::vector<std::string> RecordingHost::Logged(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const std::string& line : log) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

}  // namespace sellmeter::test
