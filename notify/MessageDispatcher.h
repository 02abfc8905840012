// MessageDispatcher: the dispatch pass of the daemon's message worker. Each
// pass sends the queued messages through the channel their type names: the
// maker's messaging web service (type 0, and type 1 when "email_send_type" is
// 1), SMTP straight to the recipient's mail exchanger (type 1, sending type
// 2) or through a relay (type 1, sending type 3), and the seller's IM client
// (types 2 and 3).
//
// Installed into the daemon with Deamon::setMessageDispatch; sendMessages is
// called only by the message worker thread. A replaced worker may still be in
// its pass while its successor starts one: every message is claimed before it
// is sent, so the two never send the same one, and a pass ends between two
// messages once its worker is asked to stop. The dispatcher keeps no state
// between passes but its Env, whose clock, network, mailer options and HTTP
// client options it uses; it reads the Env's IM channel at every pass.
#pragma once

#include <stop_token>

#include "base/Env.h"
#include "delivery/MessageDispatch.h"

namespace Quorvel {

// A reply of the outside (UTF-8 JSON, SMTP lines) as GBK text for the order
// log: its first 500 bytes at most, cut between characters; bytes that are
// not valid UTF-8 become "?".
std::string replyText(const std::string& raw);

class MessageDispatcher : public MessageDispatch {
 public:
  // Used when neither the message nor "email_sender" names a sender.
  static const char* const kDefaultSender;

  explicit MessageDispatcher(Env env) : env_(std::move(env)) {}

  // One pass: snapshot of the settings, "sendMsgTime" = now, then rounds of
  // at most one message of each type, in the order 0, 1, 2, until the queue
  // holds nothing more to try; then one round of the waiting IM messages.
  // Only committed messages are sent, each claimed first. A message whose
  // channel fails and that stays queued (type 1 through the web service or
  // with an unknown sending type, type 2) sets its type aside for the rest
  // of the pass and is tried again by the next pass. Once `stop` is
  // requested the pass ends before its next message. Database and HTTP
  // client failures are raised and end the pass (the message being sent
  // stays queued).
  void sendMessages(std::stop_token stop) override;

 private:
  const Env env_;
};

}  // namespace Quorvel
