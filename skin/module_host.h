#pragma once
// The host operations the in-memory loader rests on, shaped after VirtualAlloc, VirtualFree,
// LoadLibraryA and GetProcAddress, plus running a code address with ten 32-bit words.
//
// Addresses are 32-bit values in the image's own arithmetic: the base of a reserved block,
// base + RVA inside it, handles and code addresses. The loader never turns such a value into a
// pointer itself; it asks the host for the bytes of a block it reserved (ReservedBlock) and does
// its bounds checks against that block's size.
#include <array>
#include <cstdint>
#include <span>

#include "text/seam.h"

namespace sellmeter {

inline constexpr std::uint32_t kMemCommit = 0x1000;
inline constexpr std::uint32_t kMemReserve = 0x2000;
inline constexpr std::uint32_t kMemRelease = 0x8000;
inline constexpr std::uint32_t kPageReadWrite = 0x04;
inline constexpr std::uint32_t kPageExecuteReadWrite = 0x40;

// The ten argument words of a call; the callee finds words[0] as its first argument.
using CallWords = std::array<std::uint32_t, 10>;

// What GetProcAddress looks up: a NUL-terminated name, or (name == nullptr) an ordinal.
struct ProcKey {
  const char* name = nullptr;
  std::uint16_t ordinal = 0;
};

class ModuleHost {
 public:
  virtual ~ModuleHost() = default;

  // A zero-filled block of at least size bytes, at address when it is not 0 (and free), or
  // anywhere for address 0. Gives the block's address, or 0.
  virtual std::uint32_t VirtualAlloc(std::uint32_t address, std::uint32_t size,
                                     std::uint32_t allocationType, std::uint32_t protect) = 0;
  // Releases a whole block (size 0, kMemRelease) given its base; nonzero on success.
  virtual bool VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t freeType) = 0;
  // The bytes of the block reserved at exactly base, or an empty span when there is none.
  virtual std::span<std::uint8_t> ReservedBlock(std::uint32_t base) = 0;

  // A module handle for the library name; passed on unchecked by the loader.
  virtual std::uint32_t LoadLibraryA(const char* name) = 0;
  // The function's address, or 0.
  virtual std::uint32_t GetProcAddress(std::uint32_t module, ProcKey key) = 0;

  // Runs the code at address with the ten words and gives its 32-bit result. The stack is put
  // back as it was whether the callee removed its arguments (stdcall) or not (cdecl).
  virtual std::uint32_t CallAddress(std::uint32_t address, const CallWords& words) = 0;
};

// The platform's host, defined by the platform layer (skin/linux or skin/win32).
ModuleHost& PlatformModuleHost();

// Puts another host in force for its lifetime (tests use it for recording hosts).
using ScopedModuleHost = SeamOverride<ModuleHost>;

// The host in force: the platform's unless a ScopedModuleHost replaces it.
inline ModuleHost& CurrentModuleHost() { return ScopedModuleHost::InForce(PlatformModuleHost); }

}  // namespace sellmeter
