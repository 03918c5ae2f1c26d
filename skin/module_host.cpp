#include "skin/module_host.h"

namespace sellmeter {
namespace {

ModuleHost* overridden = nullptr;

}  // namespace

ModuleHost& CurrentModuleHost() { return overridden != nullptr ? *overridden : PlatformModuleHost(); }

ScopedModuleHost::ScopedModuleHost(ModuleHost& host) : previous_(overridden) { overridden = &host; }
ScopedModuleHost::~ScopedModuleHost() { overridden = previous_; }

}  // namespace sellmeter
