// The Linux host (mmap below 4 GiB) and the skin start-up on it.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include "skin/memory_module.h"
#include "skin/module_host.h"
#include "skin/skin_startup.h"
#include "tests/skin/pe_builder.h"
#include "tests/skin/recording_host.h"

namespace sellmeter::test {
namespace {

constexpr std::uint32_t kWanted = 0x30000000;

TEST(MmapHostTest, ReservesZeroFilledBlocksAtTheAskedAddressOrAnywhereBelow4GiB) {
  ModuleHost& host = PlatformModuleHost();
  const std::uint32_t rwx = kPageExecuteReadWrite;
  const std::uint32_t a = host.VirtualAlloc(kWanted, 0x1800, kMemCommit | kMemReserve, rwx);
  ASSERT_EQ(a, kWanted);
  std::span<std::uint8_t> block = host.ReservedBlock(a);
  ASSERT_EQ(block.size(), 0x1800u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()), std::uintptr_t{kWanted});
  for (std::uint8_t byte : block) ASSERT_EQ(byte, 0);
  block[0x17FF] = 0x5A;

  // Taken now, and inside the block: both refused.
  EXPECT_EQ(host.VirtualAlloc(kWanted, 0x1000, kMemCommit | kMemReserve, rwx), 0u);
  EXPECT_EQ(host.VirtualAlloc(kWanted + 0x1000, 0x1000, kMemCommit | kMemReserve, rwx), 0u);
  // Not a page boundary, nothing asked, or not a commit-and-reserve: refused.
  EXPECT_EQ(host.VirtualAlloc(kWanted + 0x10000 + 1, 0x1000, kMemCommit | kMemReserve, rwx), 0u);
  EXPECT_EQ(host.VirtualAlloc(0, 0, kMemCommit | kMemReserve, rwx), 0u);
  EXPECT_EQ(host.VirtualAlloc(0, 0x1000, kMemReserve, rwx), 0u);

  const std::uint32_t b = host.VirtualAlloc(0, 0x20000, kMemCommit | kMemReserve, kPageReadWrite);
  ASSERT_NE(b, 0u);
  EXPECT_NE(b, a);
  EXPECT_EQ(host.ReservedBlock(b).size(), 0x20000u);
  EXPECT_TRUE(host.ReservedBlock(b + 0x1000).empty());  // only a block's own base names it

  EXPECT_FALSE(host.VirtualFree(a, 0x1000, kMemRelease));
  EXPECT_TRUE(host.VirtualFree(a, 0, kMemRelease));
  EXPECT_FALSE(host.VirtualFree(a, 0, kMemRelease));
  EXPECT_TRUE(host.ReservedBlock(a).empty());
  EXPECT_TRUE(host.VirtualFree(b, 0, kMemRelease));
  // Released memory is given back: the address can be had again.
  EXPECT_EQ(host.VirtualAlloc(kWanted, 0x1000, kMemCommit | kMemReserve, rwx), kWanted);
  EXPECT_TRUE(host.VirtualFree(kWanted, 0, kMemRelease));
}

TEST(MmapHostTest, AnAddressTakenByAnotherMappingIsRefused) {
  void* other = mmap(reinterpret_cast<void*>(std::uintptr_t{0x31000000}), 0x1000,
                     PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_NE(other, MAP_FAILED);
  EXPECT_EQ(PlatformModuleHost().VirtualAlloc(0x31000000, 0x1000, kMemCommit | kMemReserve,
                                              kPageExecuteReadWrite), 0u);
  munmap(other, 0x1000);
}

TEST(MmapHostTest, HasNoLibrariesAndRunsNoCode) {
  ModuleHost& host = PlatformModuleHost();
  EXPECT_EQ(host.LoadLibraryA("KERNEL32.dll"), 0u);
  EXPECT_EQ(host.GetProcAddress(0, ProcKey{"Sleep", 0}), 0u);
  EXPECT_EQ(host.CallAddress(0x10001000, CallWords{}), 0u);
}

TEST(MmapHostTest, ADllLoadFailsCleanlyBecauseItsEntryPointGivesZero) {
  PeBuilder b;
  b.Put32(kEntryPoint, kDataRva);
  b.AppendWords({0xC3C3C3C3});
  b.AddExports(1, {kDataRva}, {{"Run", 0}});
  ByteArray image = b.Build();
  MemoryModule m;
  EXPECT_FALSE(m.LoadFromMemory(image));
  EXPECT_TRUE(PlatformModuleHost().ReservedBlock(kPreferredBase).empty());

  // Without the DLL flag no code runs: the image loads, its exports are found and it is freed.
  image[kCharacteristics + 1] = 0;
  ASSERT_TRUE(m.LoadFromMemory(image));
  EXPECT_NE(m.GetBase(), 0u);
  EXPECT_EQ(m.GetExport("Run"), m.GetBase() + kDataRva);
  EXPECT_EQ(m.GetExport("1"), m.GetBase() + kDataRva);
  const std::uint32_t base = m.GetBase();
  EXPECT_TRUE(m.Free());
  EXPECT_TRUE(PlatformModuleHost().ReservedBlock(base).empty());
}

TEST(SkinStartupTest, CreatesTheModuleRegistersItsExitHandlerAndLoadsNothingHere) {
  ASSERT_EQ(SkinModule(), nullptr);
  RecordingHost host;
  ScopedModuleHost scoped(host);
  std::vector<std::function<void()>> handlers;
  bool existedWhenRegistered = false;
  SkinStartup([&](std::function<void()> handler) {
    existedWhenRegistered = SkinModule() != nullptr && SkinModule()->GetBase() == 0;
    handlers.push_back(std::move(handler));
  });
  ASSERT_EQ(handlers.size(), 1u);
  EXPECT_TRUE(existedWhenRegistered);
  // No engine image on this host: the load fails before any memory is asked for.
  ASSERT_NE(SkinModule(), nullptr);
  EXPECT_EQ(SkinModule()->GetBase(), 0u);
  EXPECT_EQ(SkinModule()->GetExport("SkinH_AttachRes"), 0u);
  EXPECT_TRUE(host.log.empty());
  handlers[0]();
  EXPECT_EQ(SkinModule(), nullptr);
  EXPECT_TRUE(host.log.empty());
}

}  // namespace
}  // namespace sellmeter::test
