#pragma once
// One DLL loaded from a byte buffer instead of a file: mapped (mapped_image.h), its imports
// bound, its entry point run; afterwards its exports are found by name or ordinal and called
// with CallAddress. The object holds nothing but the base; every operation reads what it needs
// from the headers inside the mapped image.
#include <cstdint>
#include <span>

#include "text/text_types.h"

namespace sellmeter {

inline constexpr std::uint32_t kDllProcessDetach = 0;
inline constexpr std::uint32_t kDllProcessAttach = 1;

class MemoryModule {
 public:
  MemoryModule() = default;
  // Destroying the object leaves a held module alone: no detach call, nothing released.
  ~MemoryModule() = default;
  // A copy names the same mapped image.
  MemoryModule(const MemoryModule&) = default;
  MemoryModule& operator=(const MemoryModule&) = default;

  // Frees a held module first, then maps, binds and runs the entry point of image. resolver is
  // an optional code address (0 for none) asked first for each import, with userValue as its
  // third word. True when the object holds a module afterwards.
  bool LoadFromMemory(std::span<const std::uint8_t> image, std::uint32_t resolver = 0,
                      std::uint32_t userValue = 0);
  // Sends the detach notification and releases the block. True when nothing is held afterwards.
  bool Free();
  // The address of an export by name, or by ordinal when name is a plain decimal integer
  // ("12", "0", "-3"); 0 when not found.
  std::uint32_t GetExport(const Text& name) const;
  // base + AddressOfEntryPoint, or 0 when nothing is held.
  std::uint32_t GetEntryAddress() const;
  std::uint32_t GetBase() const { return base_; }

 private:
  std::uint32_t base_ = 0;
};

// Binds the import address tables of the image mapped at base, in place. False when an import
// is supplied neither by the resolver nor by GetProcAddress, or a table lies outside the image.
bool BindImports(std::uint32_t base, std::uint32_t resolver, std::uint32_t userValue);

// Sends the detach notification (DLLs only) and releases the block mapped at base.
bool ReleaseImage(std::uint32_t base);

// Calls address with ten 32-bit argument words through the host in force and gives the
// callee's 32-bit result.
std::uint32_t CallAddress(std::uint32_t address, std::uint32_t w1 = 0, std::uint32_t w2 = 0,
                          std::uint32_t w3 = 0, std::uint32_t w4 = 0, std::uint32_t w5 = 0,
                          std::uint32_t w6 = 0, std::uint32_t w7 = 0, std::uint32_t w8 = 0,
                          std::uint32_t w9 = 0, std::uint32_t w10 = 0);

}  // namespace sellmeter
