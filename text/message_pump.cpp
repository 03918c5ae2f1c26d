#include "text/message_pump.h"

namespace sellmeter {
namespace {

class NoWindowPump final : public MessagePump {
 public:
  void DispatchPending() override {}
};

NoWindowPump noWindowPump;
MessagePump& NoWindow() { return noWindowPump; }

}  // namespace

MessagePump& Messages() { return ScopedMessagePump::InForce(NoWindow); }

}  // namespace sellmeter
