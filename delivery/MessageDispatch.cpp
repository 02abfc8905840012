#include "delivery/MessageDispatch.h"

namespace Quorvel {

namespace {

// Installed until the dispatcher exists: queued messages stay queued.
class IdleMessageDispatch : public MessageDispatch {
 public:
  void sendMessages() override {}
};

}  // namespace

std::shared_ptr<MessageDispatch> idleMessageDispatch() {
  // Never destroyed: the daemon's threads may still use it while the process ends.
  static const auto* idle = new std::shared_ptr<MessageDispatch>(std::make_shared<IdleMessageDispatch>());
  return *idle;
}

}  // namespace Quorvel
