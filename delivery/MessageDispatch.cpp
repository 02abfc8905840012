#include "delivery/MessageDispatch.h"

namespace Quorvel {

namespace {

// Installed until the dispatcher exists: queued messages stay queued.
class IdleMessageDispatch : public MessageDispatch {
 public:
  void sendMessages(std::stop_token) override {}
};

}  // namespace

std::shared_ptr<MessageDispatch> idleMessageDispatch() { return std::make_shared<IdleMessageDispatch>(); }

}  // namespace Quorvel
