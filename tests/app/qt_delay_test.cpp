// The pumping delay with a Qt event loop: events are served while it waits, it ends at its
// due time however many events arrive, and a quit request waits for the message loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <chrono>

#include "text/pumping_delay.h"
#include "text/timer_api.h"

namespace sellmeter {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(QtPumpingDelay, ServesEventsWhileItWaitsAndEndsAtTheDueTime) {
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(5);
  const auto start = Clock::now();
  EXPECT_TRUE(PumpingDelay(300));
  const auto waited = Clock::now() - start;
  ticker.stop();
  EXPECT_GE(waited + milliseconds(1), milliseconds(300));
  // A 5 ms timer keeps firing throughout: the wait served it many times over.
  EXPECT_GT(ticks, 10);
  // Due at once: returns after serving at most what was already waiting.
  EXPECT_TRUE(PumpingDelay(0));
}

TEST(QtPumpingDelay, AQuitRequestIsLeftForTheMessageLoop) {
  bool delayReturned = false;
  bool stuck = false;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(20, [] { QCoreApplication::quit(); });
    PumpingDelay(200);
    delayReturned = true;
  });
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    stuck = true;
    QApplication::exit(1);
  });
  guard.start(10000);
  const auto start = Clock::now();
  const int code = QApplication::exec();
  guard.stop();
  EXPECT_FALSE(stuck);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(delayReturned);
  // The quit did not cut the delay short.
  EXPECT_GE(Clock::now() - start + milliseconds(1), milliseconds(200));
}

// The Qt wait itself: the timer, window events and a finite timeout each end a sleep with
// their own answer.
TEST(QtTimerWait, AnswersTimerEventsAndTimeout) {
  TimerApi& timers = Timers();
  WaitHandle timer = timers.CreateWaitableTimerA(nullptr, false, nullptr);
  ASSERT_NE(timer, nullptr);
  // Qt may wake a sleep for events of its own (a fresh platform posts some); such a wake is
  // answered as window input, so each wait below is repeated past those until its own answer.
  const auto waitPastStrayEvents = [&](std::uint32_t milliseconds, const bool* until = nullptr) {
    std::uint32_t answer = kWaitFailed;
    for (int wakes = 0; wakes < 1000; ++wakes) {
      answer = timers.MsgWaitForMultipleObjects(1, &timer, false, milliseconds, kQsAllInput);
      if (answer != kWaitObject0 + 1 || (until != nullptr && *until)) break;
    }
    return answer;
  };
  const std::int64_t inAnHour = -36000000000;
  ASSERT_TRUE(timers.SetWaitableTimer(timer, &inAnHour, 0, nullptr, nullptr, false));
  EXPECT_EQ(timers.MsgWaitForMultipleObjects(1, &timer, false, 0, kQsAllInput), kWaitTimeout);
  EXPECT_EQ(waitPastStrayEvents(30), kWaitTimeout);

  bool served = false;
  QTimer::singleShot(10, [&] { served = true; });
  EXPECT_EQ(waitPastStrayEvents(kInfinite, &served), kWaitObject0 + 1);
  EXPECT_TRUE(served);

  const std::int64_t inTwentyMs = -200000;
  ASSERT_TRUE(timers.SetWaitableTimer(timer, &inTwentyMs, 0, nullptr, nullptr, false));
  const auto start = Clock::now();
  EXPECT_EQ(waitPastStrayEvents(kInfinite), kWaitObject0);
  EXPECT_GE(Clock::now() - start + milliseconds(1), milliseconds(20));
  EXPECT_TRUE(timers.CloseHandle(timer));

  int notATimer = 0;
  WaitHandle bogus = &notATimer;
  EXPECT_EQ(timers.MsgWaitForMultipleObjects(1, &bogus, false, kInfinite, kQsAllInput),
            kWaitFailed);
}

}  // namespace
}  // namespace sellmeter
