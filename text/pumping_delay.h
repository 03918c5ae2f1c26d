#pragma once
// A wait on the GUI thread that keeps the window alive: it sleeps on a waitable timer, wakes
// whenever window messages arrive, dispatches them and sleeps again until the timer fires.
#include <cstdint>

namespace sellmeter {

// Milliseconds per unit: 0 ms, 1 s, 2 min, 3 h; any other value is itself the milliseconds
// per unit.
std::int64_t PumpingDelayFactor(int unit);

// The timer's relative due time in 100-nanosecond intervals: duration x factor x -10000,
// computed in double precision and cut toward zero; clamped to the 64-bit range.
std::int64_t PumpingDelayDueTime(int duration, int unit = 0);

// Waits duration units (unit as above, 0 = milliseconds) while dispatching the thread's
// window messages; a quit request is left for the message loop. Always true. When the timer
// cannot be created or set, or the wait fails, it dispatches what is waiting once and ends.
bool PumpingDelay(int duration, int unit = 0);

}  // namespace sellmeter
