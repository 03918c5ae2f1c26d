// The loader's host on Linux. Blocks are anonymous mmap mappings placed below 4 GiB, so a
// block's 32-bit address in the image's arithmetic is its real address and no translation
// table is needed beyond the list of blocks this host reserved (which ReservedBlock and
// VirtualFree consult). There are no Windows libraries to load and x86 Windows code cannot
// run here, so LoadLibraryA, GetProcAddress and CallAddress give 0.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "skin/module_host.h"

namespace sellmeter {
namespace {

constexpr std::uint64_t kAddressLimit = std::uint64_t{1} << 32;
// Where the search for a free place starts when any address will do; below it lie the
// executable of a non-PIE build and the first pages the kernel keeps back.
constexpr std::uint64_t kSearchStart = 0x10000000;
constexpr std::uint64_t kSearchStep = 0x01000000;
constexpr std::uint64_t kPopulateLimit = 4u << 20;

class MmapModuleHost final : public ModuleHost {
 public:
  std::uint32_t VirtualAlloc(std::uint32_t address, std::uint32_t size,
                             std::uint32_t allocationType, std::uint32_t protect) override {
    if (size == 0 || (allocationType & (kMemCommit | kMemReserve)) != (kMemCommit | kMemReserve)) {
      return 0;
    }
    const std::uint64_t pageSize = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t length = (std::uint64_t{size} + pageSize - 1) / pageSize * pageSize;
    if (address != 0) {
      if (address % pageSize != 0) return 0;
      return MapAt(address, size, length, protect);
    }
    for (std::uint64_t at = kSearchStart; at + length <= kAddressLimit; at += kSearchStep) {
      if (std::uint32_t got = MapAt(at, size, length, protect)) return got;
    }
    return 0;
  }

  bool VirtualFree(std::uint32_t address, std::uint32_t size, std::uint32_t freeType) override {
    auto it = blocks_.find(address);
    if (it == blocks_.end() || size != 0 || freeType != kMemRelease) return false;
    if (munmap(Pointer(address), it->second.mapped) != 0) return false;
    blocks_.erase(it);
    return true;
  }

  std::span<std::uint8_t> ReservedBlock(std::uint32_t base) override {
    auto it = blocks_.find(base);
    if (it == blocks_.end()) return {};
    return {static_cast<std::uint8_t*>(Pointer(base)), it->second.size};
  }

  std::uint32_t LoadLibraryA(const char*) override { return 0; }
  std::uint32_t GetProcAddress(std::uint32_t, ProcKey) override { return 0; }

  std::uint32_t CallAddress(std::uint32_t address, const CallWords&) override {
    std::fprintf(stderr, "sellmeter: cannot run 32-bit x86 Windows code on this host; the call "
                         "to 0x%08x gives 0\n", static_cast<unsigned>(address));
    return 0;
  }

 private:
  struct Block {
    std::size_t size;    // as asked for
    std::size_t mapped;  // whole pages
  };

  static void* Pointer(std::uint64_t address) { return reinterpret_cast<void*>(address); }

  // A fresh zero-filled mapping at exactly address, or 0 when anything lies there.
  std::uint32_t MapAt(std::uint64_t address, std::uint32_t size, std::uint64_t length,
                      std::uint32_t protect) {
    if (address + length > kAddressLimit) return 0;
    int prot = PROT_READ | PROT_WRITE;
    if (protect == kPageExecuteReadWrite) prot |= PROT_EXEC;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE;
    // Images of a usual size are filled at once, which spares a page fault per page while
    // the headers and sections are copied in; larger claims stay lazy.
    if (length <= kPopulateLimit) flags |= MAP_POPULATE;
    void* got = mmap(Pointer(address), length, prot, flags, -1, 0);
    if (got == MAP_FAILED && (prot & PROT_EXEC) != 0 && (errno == EACCES || errno == EPERM)) {
      // Kernels that refuse writable code still give the memory; nothing runs in it here.
      got = mmap(Pointer(address), length, PROT_READ | PROT_WRITE, flags, -1, 0);
    }
    if (got == MAP_FAILED) return 0;
    if (got != Pointer(address)) {
      // A kernel without MAP_FIXED_NOREPLACE takes the address as a hint only.
      munmap(got, length);
      return 0;
    }
    blocks_[static_cast<std::uint32_t>(address)] = Block{size, static_cast<std::size_t>(length)};
    return static_cast<std::uint32_t>(address);
  }

  std::map<std::uint32_t, Block> blocks_;
};

}  // namespace

ModuleHost& PlatformModuleHost() {
  static MmapModuleHost host;
  return host;
}

}  // namespace sellmeter
