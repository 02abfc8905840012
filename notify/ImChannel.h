// ImChannel: the seller's IM client as the dispatch pass sees it. Sends one
// chat message at once (type 2 messages) and handles the messages that wait
// for the buyer's chat window to be open (type 3).
//
// The dispatch pass uses processWide<ImChannel>(). Called only by the
// daemon's message worker, from inside a dispatch pass.
#pragma once

#include <memory>
#include <string>

namespace Quorvel {

class ImChannel {
 public:
  virtual ~ImChannel() = default;

  // The program's channel: noImChannel() until the IM automation exists.
  static std::shared_ptr<ImChannel> makeProcessWide();

  // Sends `text` to the buyer `to` from the seller's IM account `from`; true
  // when the message went out.
  virtual bool sendChatMessage(const std::string& to, const std::string& from, const std::string& text,
                               const std::string& orderId) = 0;

  // One round over the queued messages of type 3.
  virtual void sendWaitingChats() = 0;
};

// The channel used until the IM automation exists: it finds no IM client, so
// sendChatMessage answers false (nothing sent, the message stays queued) and
// sendWaitingChats leaves the waiting messages where they are.
std::shared_ptr<ImChannel> noImChannel();

}  // namespace Quorvel
