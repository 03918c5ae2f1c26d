#include "text/pumping_delay.h"

#include <cmath>
#include <limits>

#include "text/message_pump.h"
#include "text/timer_api.h"

namespace sellmeter {

std::int64_t PumpingDelayFactor(int unit) {
  switch (unit) {
    case 0: return 1;
    case 1: return 1000;
    case 2: return 60000;
    case 3: return 3600000;
    default: return unit;
  }
}

std::int64_t PumpingDelayDueTime(int duration, int unit) {
  const double due = static_cast<double>(duration) *
                     static_cast<double>(PumpingDelayFactor(unit)) * -10000.0;
  // Beyond the 64-bit range the conversion would be undefined: hold it at the limits.
  constexpr double kLimit = 9223372036854775807.0;  // rounds to 2^63
  if (due >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (due <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::trunc(due));
}

bool PumpingDelay(int duration, int unit) {
  const std::int64_t dueTime = PumpingDelayDueTime(duration, unit);
  TimerApi& timers = Timers();
  WaitHandle timer = timers.CreateWaitableTimerA(nullptr, false, nullptr);
  if (timer == nullptr) {
    // Without a timer there is nothing to wait for: serve what is waiting and end.
    Messages().DispatchPending();
    return true;
  }
  if (!timers.SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, false)) {
    Messages().DispatchPending();
    timers.CloseHandle(timer);
    return true;
  }
  for (;;) {
    const std::uint32_t woke =
        timers.MsgWaitForMultipleObjects(1, &timer, false, kInfinite, kQsAllInput);
    if (woke == kWaitObject0) break;
    // Messages are waiting: serve them and sleep again. A failed wait would return at once
    // forever, so it ends the delay after this last round of messages.
    Messages().DispatchPending();
    if (woke != kWaitObject0 + 1) break;
  }
  timers.CloseHandle(timer);
  return true;
}

}  // namespace sellmeter
