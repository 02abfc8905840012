// MessageDispatch: the pass of the daemon's message worker that sends the
// queued messages. The notification subsystem provides the real pass and
// installs it with Deamon::setMessageDispatch; the pass itself records the
// Registry key "sendMsgTime".
//
// Called only by the daemon's message worker thread (an abandoned worker that
// is still finishing its pass may overlap with its successor). Failures are
// raised as the Exception family or standard exceptions.
#pragma once

#include <memory>

namespace Quorvel {

class MessageDispatch {
 public:
  virtual ~MessageDispatch() = default;

  // One pass over the message queue.
  virtual void sendMessages() = 0;
};

// What the daemon runs until the real pass is installed: a pass that sends
// nothing and leaves "sendMsgTime" at 0, so the status page shows that no
// pass has run.
std::shared_ptr<MessageDispatch> idleMessageDispatch();

}  // namespace Quorvel
