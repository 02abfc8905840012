// MessageDispatch: the pass of the daemon's message worker that sends the
// queued messages. The notification subsystem provides the real pass and
// installs it with Deamon::setMessageDispatch; the pass itself records the
// Registry key "sendMsgTime".
//
// Called only by the daemon's message worker thread. A worker that was
// replaced may still be in its pass while its successor starts one: a pass
// checks its stop token between two messages and ends once it is asked to,
// and claims every message before it sends it (MsgQueue::claim), so the two
// never send the same one. Failures are raised as the Exception family or
// standard exceptions.
#pragma once

#include <memory>
#include <stop_token>

namespace Quorvel {

class MessageDispatch {
 public:
  virtual ~MessageDispatch() = default;

  // One pass over the message queue; ends early once `stop` is requested.
  virtual void sendMessages(std::stop_token stop) = 0;
};

// What the daemon runs until the real pass is installed: a pass that sends
// nothing and leaves "sendMsgTime" at 0, so the status page shows that no
// pass has run.
std::shared_ptr<MessageDispatch> idleMessageDispatch();

}  // namespace Quorvel
