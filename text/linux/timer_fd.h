#pragma once
// The Linux timers behind PlatformTimerApi() are timer file descriptors (CLOCK_MONOTONIC);
// a window layer that waits for its own events as well watches this descriptor.
#include "text/timer_api.h"

namespace sellmeter {

// The descriptor of a timer made by PlatformTimerApi(), or -1 for any other handle.
int TimerFd(WaitHandle timer);

// Non-blocking: true when the timer has fired since the last call (which consumes the firing,
// as a satisfied wait resets a synchronization timer).
bool ConsumeTimerFiring(WaitHandle timer);

}  // namespace sellmeter
