#include "text/message_pump.h"

namespace sellmeter {
namespace {

class NoWindowPump final : public MessagePump {
 public:
  void DispatchPending() override {}
};

NoWindowPump noWindowPump;
MessagePump* current = &noWindowPump;

}  // namespace

MessagePump& Messages() { return *current; }

ScopedMessagePump::ScopedMessagePump(MessagePump& pump) : previous_(current) { current = &pump; }
ScopedMessagePump::~ScopedMessagePump() { current = previous_; }

}  // namespace sellmeter
