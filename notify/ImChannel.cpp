#include "notify/ImChannel.h"

namespace Quorvel {

namespace {

// No IM client can be driven yet: every chat message fails and stays queued.
class NoImChannel : public ImChannel {
 public:
  bool sendChatMessage(const std::string&, const std::string&, const std::string&, const std::string&) override {
    return false;
  }
  void sendWaitingChats() override {}
};

}  // namespace

std::shared_ptr<ImChannel> noImChannel() { return std::make_shared<NoImChannel>(); }

std::shared_ptr<ImChannel> ImChannel::makeProcessWide() { return noImChannel(); }

}  // namespace Quorvel
