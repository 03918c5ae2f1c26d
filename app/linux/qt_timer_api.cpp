#include "app/linux/qt_timer_api.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <vector>

#include "text/linux/timer_fd.h"

namespace sellmeter {

WaitHandle QtTimerApi::CreateWaitableTimerA(void* securityAttributes, bool manualReset,
                                            const char* name) {
  return PlatformTimerApi().CreateWaitableTimerA(securityAttributes, manualReset, name);
}

bool QtTimerApi::SetWaitableTimer(WaitHandle timer, const std::int64_t* dueTime,
                                  std::int32_t period, void* completionRoutine,
                                  void* completionArgument, bool resume) {
  return PlatformTimerApi().SetWaitableTimer(timer, dueTime, period, completionRoutine,
                                             completionArgument, resume);
}

bool QtTimerApi::CloseHandle(WaitHandle handle) { return PlatformTimerApi().CloseHandle(handle); }

std::uint32_t QtTimerApi::MsgWaitForMultipleObjects(std::uint32_t count,
                                                    const WaitHandle* handles, bool waitAll,
                                                    std::uint32_t milliseconds,
                                                    std::uint32_t wakeMask) {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr || QCoreApplication::instance() == nullptr) {
    return PlatformTimerApi().MsgWaitForMultipleObjects(count, handles, waitAll, milliseconds,
                                                        wakeMask);
  }
  if (count == 0 || handles == nullptr || (waitAll && count > 1)) return kWaitFailed;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (TimerFd(handles[i]) < 0) return kWaitFailed;
    if (ConsumeTimerFiring(handles[i])) return kWaitObject0 + i;
  }
  if (milliseconds == 0) return kWaitTimeout;

  // The timers' descriptors join the event loop's own sources for this one sleep.
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  for (std::uint32_t i = 0; i < count; ++i) {
    notifiers.push_back(
        std::make_unique<QSocketNotifier>(TimerFd(handles[i]), QSocketNotifier::Read));
  }
  bool timedOut = false;
  QTimer deadline;
  if (milliseconds != kInfinite) {
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
    deadline.start(static_cast<int>(milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : milliseconds));
  }
  dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  notifiers.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (ConsumeTimerFiring(handles[i])) return kWaitObject0 + i;
  }
  if (timedOut) return kWaitTimeout;
  return kWaitObject0 + count;  // window events woke the sleep (and have been served)
}

void QtMessagePump::DispatchPending() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace sellmeter
