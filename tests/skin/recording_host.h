#pragma once
// A loader host for tests: blocks are plain vectors at made-up 32-bit addresses, libraries and
// symbols come from tables, calls give scripted results, and every operation is written to a
// log in a readable form ("LoadLibraryA KERNEL32.dll", "GetProcAddress 0x100 #5",
// "CallAddress 0x10000210 0x0 0x1 0x0").
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "skin/module_host.h"

namespace sellmeter::test {

class RecordingHost final : public ModuleHost {
 public:
  std::uint32_t VirtualAlloc(std::uint32_t address, std::uint32_t size,
                             std::uint32_t allocationType, std::uint32_t protect) override;
  bool VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t freeType) override;
  std::span<std::uint8_t> ReservedBlock(std::uint32_t base) override;
  std::uint32_t LoadLibraryA(const char* name) override;
  std::uint32_t GetProcAddress(std::uint32_t module, ProcKey key) override;
  std::uint32_t CallAddress(std::uint32_t address, const CallWords& words) override;

  // The NUL-terminated text at a 32-bit address inside any block ("<bad>" when there is none).
  std::string TextAt(std::uint32_t address) const;
  // Log lines that start with prefix.
  std::vector<std::string> Logged(const std::string& prefix) const;
  std::size_t LiveBlocks() const { return blocks_.size(); }

  // Addresses VirtualAlloc refuses when asked for them; with refuseAll nothing is given.
  std::set<std::uint32_t> taken;
  bool refuseAll = false;
  // Where blocks asked for "anywhere" go, one after another.
  std::uint32_t nextAnywhere = 0x00A00000;
  // Library name -> handle (unknown names give 0); (handle, "name" or "#ordinal") -> address.
  std::map<std::string, std::uint32_t> libraries;
  std::map<std::pair<std::uint32_t, std::string>, std::uint32_t> symbols;
  // Answers calls; by default every call gives 1.
  std::function<std::uint32_t(std::uint32_t, const CallWords&)> onCall;
  std::vector<std::string> log;

 private:
  std::map<std::uint32_t, std::vector<std::uint8_t>> blocks_;
};

std::string Hex(std::uint32_t value);

}  // namespace sellmeter::test
