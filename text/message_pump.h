#pragma once
// Serving the thread's waiting window messages at the points where a long operation lets the
// window breathe (the request engine's dispatch points). Without a window there is nothing to
// serve; the window layer puts its own pump in force.
#include "text/seam.h"

namespace sellmeter {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Dispatches every message already waiting, then returns; never waits for new ones.
  virtual void DispatchPending() = 0;
};

using ScopedMessagePump = SeamOverride<MessagePump>;

// The pump in force: by default one with nothing to dispatch.
MessagePump& Messages();

}  // namespace sellmeter
