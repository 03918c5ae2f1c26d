#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "text/linux/timer_fd.h"
#include "text/message_pump.h"
#include "text/pumping_delay.h"
#include "text/timer_api.h"

namespace sellmeter {
namespace {

TEST(PumpingDelayDueTime, UnitsAndArithmetic) {
  struct Case {
    int duration;
    int unit;
    std::int64_t due;
  };
  const Case cases[] = {
      {500, 0, -5000000},         // the query's pause
      {2, 1, -20000000},          // seconds
      {1, 2, -600000000},         // minutes
      {1, 3, -36000000000},       // hours
      {3, 7, -210000},            // any other unit is milliseconds per unit
      {3, -2, 60000},             // ... negative ones too, giving a positive (absolute) time
      {0, 0, 0},
      {-1, 0, 10000},
      {INT_MAX, 1, -21474836470000000},  // still inside 64 bits
      {INT_MAX, INT_MAX, INT64_MIN},     // beyond: held at the limit, never undefined
      {INT_MIN, INT_MAX, INT64_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PumpingDelayDueTime(c.duration, c.unit), c.due)
        << c.duration << " units of " << c.unit;
  }
  EXPECT_EQ(PumpingDelayDueTime(500), -5000000);
}

// Records every call and answers the waits from a script.
class ScriptedTimers final : public TimerApi {
 public:
  std::vector<std::string> calls;
  bool createFails = false;
  bool setFails = false;
  std::vector<std::uint32_t> waits;  // answers in order; kWaitObject0 once they run out
  std::int64_t dueTime = 1;
  int token = 0;

  WaitHandle CreateWaitableTimerA(void* attributes, bool manualReset, const char* name) override {
    calls.push_back("create " + std::to_string(attributes == nullptr) +
                    std::to_string(manualReset) + std::to_string(name == nullptr));
    return createFails ? nullptr : &token;
  }
  bool SetWaitableTimer(WaitHandle timer, const std::int64_t* due, std::int32_t period,
                        void* routine, void* argument, bool resume) override {
    calls.push_back("set " + std::to_string(timer == &token) + " " + std::to_string(*due) +
                    " " + std::to_string(period) + std::to_string(routine == nullptr) +
                    std::to_string(argument == nullptr) + std::to_string(resume));
    return !setFails;
  }
  std::uint32_t MsgWaitForMultipleObjects(std::uint32_t count, const WaitHandle* handles,
                                          bool waitAll, std::uint32_t ms,
                                          std::uint32_t mask) override {
    calls.push_back("wait " + std::to_string(count) + std::to_string(handles[0] == &token) +
                    std::to_string(waitAll) + " " + std::to_string(ms) + " " +
                    std::to_string(mask));
    if (waits.empty()) return kWaitObject0;
    const std::uint32_t answer = waits.front();
    waits.erase(waits.begin());
    return answer;
  }
  bool CloseHandle(WaitHandle handle) override {
    calls.push_back("close " + std::to_string(handle == &token));
    return true;
  }
};

class CountingPump final : public MessagePump {
 public:
  std::vector<std::string>* log;
  explicit CountingPump(std::vector<std::string>* calls) : log(calls) {}
  void DispatchPending() override { log->push_back("dispatch"); }
};

const std::string kCreate = "create 101";
const std::string kWait = "wait 110 4294967295 255";

TEST(PumpingDelay, WaitsOnTheTimerAndServesMessagesUntilItFires) {
  ScriptedTimers timers;
  timers.waits = {1, 1, kWaitObject0};
  CountingPump pump(&timers.calls);
  ScopedTimerApi useTimers(timers);
  ScopedMessagePump usePump(pump);
  EXPECT_TRUE(PumpingDelay(500));
  const std::vector<std::string> expected = {
      kCreate, "set 1 -5000000 0110", kWait, "dispatch", kWait, "dispatch", kWait, "close 1"};
  EXPECT_EQ(timers.calls, expected);
}

TEST(PumpingDelay, EndsInsteadOfSpinningWhenTheTimerOrTheWaitFails) {
  {
    ScriptedTimers timers;
    timers.createFails = true;
    CountingPump pump(&timers.calls);
    ScopedTimerApi useTimers(timers);
    ScopedMessagePump usePump(pump);
    EXPECT_TRUE(PumpingDelay(2, 1));
    EXPECT_EQ(timers.calls, (std::vector<std::string>{kCreate, "dispatch"}));
  }
  {
    ScriptedTimers timers;
    timers.setFails = true;
    CountingPump pump(&timers.calls);
    ScopedTimerApi useTimers(timers);
    ScopedMessagePump usePump(pump);
    EXPECT_TRUE(PumpingDelay(2, 1));
    EXPECT_EQ(timers.calls,
              (std::vector<std::string>{kCreate, "set 1 -20000000 0110", "dispatch", "close 1"}));
  }
  for (std::uint32_t failure : {kWaitFailed, kWaitTimeout, std::uint32_t{0x80}}) {
    ScriptedTimers timers;
    timers.waits = {1, failure, 1, 1};
    CountingPump pump(&timers.calls);
    ScopedTimerApi useTimers(timers);
    ScopedMessagePump usePump(pump);
    EXPECT_TRUE(PumpingDelay(1));
    const std::vector<std::string> expected = {kCreate, "set 1 -10000 0110", kWait, "dispatch",
                                               kWait,   "dispatch",          "close 1"};
    EXPECT_EQ(timers.calls, expected) << failure;
  }
}

// The Linux timers themselves: a timer fires once, at its due time, and a zero or past due
// time fires at once instead of disarming the timer.
TEST(LinuxTimers, FireOnceAtTheDueTime) {
  TimerApi& api = PlatformTimerApi();
  WaitHandle timer = api.CreateWaitableTimerA(nullptr, false, nullptr);
  ASSERT_NE(timer, nullptr);
  ASSERT_GE(TimerFd(timer), 0);

  const std::int64_t inFiftyMs = -500000;
  ASSERT_TRUE(api.SetWaitableTimer(timer, &inFiftyMs, 0, nullptr, nullptr, false));
  EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &timer, false, 0, kQsAllInput), kWaitTimeout);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &timer, false, kInfinite, kQsAllInput),
            kWaitObject0);
  EXPECT_GE(std::chrono::steady_clock::now() - start + std::chrono::milliseconds(1),
            std::chrono::milliseconds(49));
  // The wait consumed the firing; period 0 means it does not come back.
  EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &timer, false, 100, kQsAllInput), kWaitTimeout);

  for (std::int64_t due : {std::int64_t{0}, std::int64_t{1}, std::int64_t{10000}}) {
    ASSERT_TRUE(api.SetWaitableTimer(timer, &due, 0, nullptr, nullptr, false));
    EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &timer, false, 5000, kQsAllInput), kWaitObject0)
        << due;
  }
  // A later due time replaces an earlier one.
  const std::int64_t now = -1;
  const std::int64_t inAnHour = -36000000000;
  ASSERT_TRUE(api.SetWaitableTimer(timer, &now, 0, nullptr, nullptr, false));
  ASSERT_TRUE(api.SetWaitableTimer(timer, &inAnHour, 0, nullptr, nullptr, false));
  EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &timer, false, 50, kQsAllInput), kWaitTimeout);
  EXPECT_TRUE(api.CloseHandle(timer));

  int notATimer = 0;
  WaitHandle bogus = &notATimer;
  EXPECT_FALSE(api.SetWaitableTimer(bogus, &now, 0, nullptr, nullptr, false));
  EXPECT_EQ(api.MsgWaitForMultipleObjects(1, &bogus, false, 0, kQsAllInput), kWaitFailed);
  EXPECT_FALSE(api.CloseHandle(nullptr));
}

TEST(PumpingDelay, WithoutAWindowSleepsForTheDueTime) {
  struct Case {
    int duration;
    int unit;
    std::chrono::milliseconds atLeast;
  };
  for (const Case& c : {Case{120, 0, std::chrono::milliseconds(120)},
                        Case{3, 7, std::chrono::milliseconds(21)},
                        Case{0, 0, std::chrono::milliseconds(0)},
                        Case{-5, 0, std::chrono::milliseconds(0)}}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpingDelay(c.duration, c.unit));
    EXPECT_GE(std::chrono::steady_clock::now() - start + std::chrono::milliseconds(1), c.atLeast)
        << c.duration << " units of " << c.unit;
  }
}

}  // namespace
}  // namespace sellmeter
