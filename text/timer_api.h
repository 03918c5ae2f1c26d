#pragma once
// The kernel timer and the message wait the pumping delay rests on, shaped after
// CreateWaitableTimerA, SetWaitableTimer, MsgWaitForMultipleObjects and CloseHandle.
#include <cstdint>

#include "text/seam.h"

namespace sellmeter {

using WaitHandle = void*;

inline constexpr std::uint32_t kWaitObject0 = 0x00000000;   // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;    // WAIT_FAILED
inline constexpr std::uint32_t kWaitTimeout = 0x00000102;   // WAIT_TIMEOUT
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;      // INFINITE
inline constexpr std::uint32_t kQsAllInput = 0xFF;          // QS_KEY ... QS_HOTKEY

class TimerApi {
 public:
  virtual ~TimerApi() = default;
  // Returns a timer handle, or nullptr on failure.
  virtual WaitHandle CreateWaitableTimerA(void* securityAttributes, bool manualReset,
                                          const char* name) = 0;
  // dueTime counts 100-nanosecond intervals: negative is relative to now, positive is an
  // absolute time since 1601-01-01 UTC (so a small positive value is already past).
  virtual bool SetWaitableTimer(WaitHandle timer, const std::int64_t* dueTime, std::int32_t period,
                                void* completionRoutine, void* completionArgument,
                                bool resume) = 0;
  // kWaitObject0 + i when handles[i] is signalled, kWaitObject0 + count when window messages
  // of a kind in wakeMask are waiting, kWaitTimeout, or kWaitFailed.
  virtual std::uint32_t MsgWaitForMultipleObjects(std::uint32_t count, const WaitHandle* handles,
                                                  bool waitAll, std::uint32_t milliseconds,
                                                  std::uint32_t wakeMask) = 0;
  virtual bool CloseHandle(WaitHandle handle) = 0;
};

// The platform's implementation, defined by the platform layer. The Linux one waits for its
// timers alone; a window layer that has messages to wait for puts its own in force.
TimerApi& PlatformTimerApi();

// The implementation in force: the platform's unless a ScopedTimerApi replaces it.
using ScopedTimerApi = SeamOverride<TimerApi>;
inline TimerApi& Timers() { return ScopedTimerApi::InForce(PlatformTimerApi); }

}  // namespace sellmeter
