#pragma once
// The skin module: the one MemoryModule that lives from start-up to exit and holds the skin
// engine loaded from the program's own data.
#include <functional>

#include "skin/memory_module.h"

namespace sellmeter {

// Creates SkinModule empty, registers with registerExitHandler the handler that destroys
// it, then loads the stored engine image into it; the result is not examined.
void SkinStartup(const std::function<void(std::function<void()>)>& registerExitHandler);

// nullptr before start-up and after the exit handler ran.
MemoryModule* SkinModule();

}  // namespace sellmeter
