// ImChannel: the seller's IM client as the dispatch pass sees it. Sends one
// chat message at once (type 2 messages) and handles the messages that wait
// for the buyer's chat window to be open (type 3).
//
// The dispatch pass uses the ImChannel entry of its Env. Called only by the
// daemon's message worker, from inside a dispatch pass; `stop` is the
// worker's, and a channel asked to stop ends at its next pause.
#pragma once

#include <memory>
#include <stop_token>
#include <string>

namespace Quorvel {

class IDb;

class ImChannel {
 public:
  virtual ~ImChannel() = default;

  // The channel of an Env that was given none: the automation of the
  // seller's IM client (ImAutomation) on the system's clock and windows.
  static std::shared_ptr<ImChannel> makeProcessWide();

  // Sends `text` to the buyer `to` from the seller's IM account `from`; true
  // when the message is dealt with (the caller then removes it), false when
  // it stays queued for a later pass. The caller holds the message's claim.
  // What the channel queues meanwhile goes in on `db`, the pass's connection.
  virtual bool sendChatMessage(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                               const std::string& text, const std::string& orderId, std::stop_token stop) = 0;

  // One round over the queued messages of type 3, on `db`.
  virtual void sendWaitingChats(const std::shared_ptr<IDb>& db, std::stop_token stop) = 0;
};

}  // namespace Quorvel
