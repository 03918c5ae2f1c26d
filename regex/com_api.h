#pragma once
// CoInitialize / CoUninitialize. Every RegexObject and every charset step holds one balanced
// pair; tests count the calls through a ScopedComApi.
#include "text/seam.h"

namespace sellmeter {

// Results of CoInitialize: the first call on a thread, and every nested one.
inline constexpr long kComOk = 0;     // S_OK
inline constexpr long kComFalse = 1;  // S_FALSE

class ComApi {
 public:
  virtual ~ComApi() = default;
  virtual long CoInitialize(void* reserved) = 0;
  virtual void CoUninitialize() = 0;
};

ComApi& PlatformComApi();   // defined by the platform layer
using ScopedComApi = SeamOverride<ComApi>;

// The one in force.
inline ComApi& Com() { return ScopedComApi::InForce(PlatformComApi); }

}  // namespace sellmeter
