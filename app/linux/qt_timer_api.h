#pragma once
// The waitable-timer wait of a process with a window: it sleeps in the kernel until a timer
// fires or window events arrive. Qt does not hand out its queue, so the events that end a
// sleep are dispatched by the wait itself; a quit request stays with the message loop.
#include "text/message_pump.h"
#include "text/timer_api.h"

namespace sellmeter {

class QtTimerApi final : public TimerApi {
 public:
  // Timers themselves are the platform's (timerfds).
  WaitHandle CreateWaitableTimerA(void* securityAttributes, bool manualReset,
                                  const char* name) override;
  bool SetWaitableTimer(WaitHandle timer, const std::int64_t* dueTime, std::int32_t period,
                        void* completionRoutine, void* completionArgument, bool resume) override;
  std::uint32_t MsgWaitForMultipleObjects(std::uint32_t count, const WaitHandle* handles,
                                          bool waitAll, std::uint32_t milliseconds,
                                          std::uint32_t wakeMask) override;
  bool CloseHandle(WaitHandle handle) override;
};

// Dispatches the Qt events already waiting, never blocking.
class QtMessagePump final : public MessagePump {
 public:
  void DispatchPending() override;
};

}  // namespace sellmeter
