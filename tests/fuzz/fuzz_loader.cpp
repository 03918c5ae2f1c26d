// libFuzzer target: arbitrary bytes through MapImage (headers, size rule, copies, relocations),
// the import walk and the export look-ups, on the platform's own memory host. Every import is
// supplied and every call answers 1 so that hostile tables reach each walk.
#include <cstddef>
#include <cstdint>
#include <string>

#include "skin/memory_module.h"
#include "skin/module_host.h"

namespace sellmeter {
namespace {

// Blocks beyond this size are refused: the export name walk is linear by design, and over a
// block of many megabytes of zero pages (an image may claim any size) it takes seconds per
// input under the sanitizers. The skin engine's image maps to well below this.
constexpr std::uint32_t kLargestBlock = 256u << 10;

class FuzzHost final : public ModuleHost {
 public:
  std::uint32_t VirtualAlloc(std::uint32_t address, std::uint32_t size, std::uint32_t type,
                             std::uint32_t protect) override {
    if (size > kLargestBlock) return 0;
    return platform_.VirtualAlloc(address, size, type, protect);
  }
  bool VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t type) override {
    return platform_.VirtualFree(address, size, type);
  }
  std::span<std::uint8_t> ReservedBlock(std::uint32_t base) override {
    return platform_.ReservedBlock(base);
  }
  std::uint32_t LoadLibraryA(const char* name) override { return name[0] == 0 ? 0 : 0x1000; }
  std::uint32_t GetProcAddress(std::uint32_t, ProcKey key) override {
    return key.name != nullptr ? 0x2000 : 0x3000u + key.ordinal;
  }
  std::uint32_t CallAddress(std::uint32_t, const CallWords&) override { return 1; }

 private:
  ModuleHost& platform_ = PlatformModuleHost();
};

}  // namespace
}  // namespace sellmeter

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sellmeter;
  static FuzzHost host;
  ScopedModuleHost scoped(host);
  MemoryModule module;
  // An odd first byte also sends every import through a resolver.
  const std::uint32_t resolver = size > 0 && (data[0] & 1) != 0 ? 0x4000 : 0;
  if (module.LoadFromMemory({data, size}, resolver, 7)) {
    // Names to look up: ordinals around the usual bases and a name from the input's tail.
    for (const char* name : {"0", "1", "2", "-1", "2147483647", "DllMain", ""}) {
      module.GetExport(name);
    }
    const std::size_t tail = size < 12 ? size : 12;
    module.GetExport(std::string(reinterpret_cast<const char*>(data + size - tail), tail));
    module.GetEntryAddress();
    if (!module.Free()) {
      // Headers the image's own relocations broke: release the block all the same.
      host.VirtualFree(module.GetBase(), 0, kMemRelease);
    }
  }
  return 0;
}
