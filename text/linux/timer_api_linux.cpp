// Waitable timers on timer file descriptors. Without a window there are no messages, so the
// wait is a poll on the timers alone; the process sleeps in the kernel until one fires.
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <vector>

#include "text/linux/timer_fd.h"
#include "text/timer_api.h"

namespace sellmeter {
namespace {

constexpr std::uint32_t kTimerMagic = 0x546d7246;  // tags our handles

struct LinuxTimer {
  std::uint32_t magic = kTimerMagic;
  int fd = -1;
};

LinuxTimer* AsTimer(WaitHandle handle) {
  auto* timer = static_cast<LinuxTimer*>(handle);
  if (timer == nullptr || timer->magic != kTimerMagic) return nullptr;
  return timer;
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000;

timespec FromNanoseconds(std::int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

// Nanoseconds from now until dueTime; at least 1 (a zero value would disarm the timer).
std::int64_t NanosecondsUntil(std::int64_t dueTime) {
  constexpr std::int64_t kMaxIntervals = INT64_MAX / 100;
  std::int64_t intervals;
  if (dueTime < 0) {
    intervals = dueTime == INT64_MIN ? kMaxIntervals : -dueTime;
  } else {
    // Absolute time: what remains of it on the wall clock.
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::system_clock::now().time_since_epoch())
            .count() / 100 + kUnixEpochIn100ns;
    intervals = dueTime > now ? dueTime - now : 0;
  }
  if (intervals > kMaxIntervals) intervals = kMaxIntervals;
  return intervals > 0 ? intervals * 100 : 1;
}

class LinuxTimerApi final : public TimerApi {
 public:
  WaitHandle CreateWaitableTimerA(void*, bool, const char*) override {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return nullptr;
    auto* timer = new LinuxTimer;
    timer->fd = fd;
    return timer;
  }

  bool SetWaitableTimer(WaitHandle handle, const std::int64_t* dueTime, std::int32_t period,
                        void*, void*, bool) override {
    LinuxTimer* timer = AsTimer(handle);
    if (timer == nullptr || dueTime == nullptr || period < 0) return false;
    // A new due time cancels a firing that has not been waited for.
    ConsumeTimerFiring(handle);
    itimerspec setting{};
    setting.it_value = FromNanoseconds(NanosecondsUntil(*dueTime));
    setting.it_interval = FromNanoseconds(std::int64_t{period} * 1000000);
    return timerfd_settime(timer->fd, 0, &setting, nullptr) == 0;
  }

  std::uint32_t MsgWaitForMultipleObjects(std::uint32_t count, const WaitHandle* handles,
                                          bool waitAll, std::uint32_t milliseconds,
                                          std::uint32_t) override {
    if (count == 0 || handles == nullptr || (waitAll && count > 1)) return kWaitFailed;
    std::vector<pollfd> fds(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      LinuxTimer* timer = AsTimer(handles[i]);
      if (timer == nullptr) return kWaitFailed;
      fds[i] = pollfd{timer->fd, POLLIN, 0};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      int timeout = -1;
      if (milliseconds != kInfinite) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        timeout = left > 0 ? static_cast<int>(left) : 0;
      }
      const int ready = poll(fds.data(), count, timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return kWaitFailed;
      }
      if (ready == 0) return kWaitTimeout;
      for (std::uint32_t i = 0; i < count; ++i) {
        if ((fds[i].revents & POLLIN) && ConsumeTimerFiring(handles[i])) return kWaitObject0 + i;
        if (fds[i].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
      }
    }
  }

  bool CloseHandle(WaitHandle handle) override {
    LinuxTimer* timer = AsTimer(handle);
    if (timer == nullptr) return false;
    ::close(timer->fd);
    timer->magic = 0;
    delete timer;
    return true;
  }
};

}  // namespace

int TimerFd(WaitHandle handle) {
  LinuxTimer* timer = AsTimer(handle);
  return timer ? timer->fd : -1;
}

bool ConsumeTimerFiring(WaitHandle handle) {
  LinuxTimer* timer = AsTimer(handle);
  if (timer == nullptr) return false;
  std::uint64_t expirations = 0;
  return ::read(timer->fd, &expirations, sizeof expirations) ==
             static_cast<ssize_t>(sizeof expirations) &&
         expirations > 0;
}

TimerApi& PlatformTimerApi() {
  static LinuxTimerApi api;
  return api;
}

}  // namespace sellmeter
