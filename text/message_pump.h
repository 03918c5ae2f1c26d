#pragma once
// Serving the thread's waiting window messages at the points where a long operation lets the
// window breathe (the request engine's dispatch points). Without a window there is nothing to
// serve; the window layer puts its own pump in force.
namespace sellmeter {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Dispatches every message already waiting, then returns; never waits for new ones.
  virtual void DispatchPending() = 0;
};

// The pump in force: by default one with nothing to dispatch.
MessagePump& Messages();

class ScopedMessagePump {
 public:
  explicit ScopedMessagePump(MessagePump& pump);
  ~ScopedMessagePump();
  ScopedMessagePump(const ScopedMessagePump&) = delete;
  ScopedMessagePump& operator=(const ScopedMessagePump&) = delete;

 private:
  MessagePump* previous_;
};

}  // namespace sellmeter
