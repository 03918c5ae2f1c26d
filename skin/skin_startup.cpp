#include "skin/skin_startup.h"

#include "skin/engine_image.h"

namespace sellmeter {
namespace {

MemoryModule* skinModule = nullptr;

}  // namespace

void SkinStartup(const std::function<void(std::function<void()>)>& registerExitHandler) {
  skinModule = new MemoryModule();
  if (registerExitHandler) {
    // Destroying the object leaves the engine loaded: no detach call, its memory and
    // libraries stay until the process ends.
    registerExitHandler([] {
      delete skinModule;
      skinModule = nullptr;
    });
  }
  skinModule->LoadFromMemory(StoredEngineImage());
}

MemoryModule* SkinModule() { return skinModule; }

}  // namespace sellmeter
