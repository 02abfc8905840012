// MessageDispatcher: the dispatch pass of the daemon's message worker. Each
// pass sends the queued messages through the channel their type names: the
// maker's messaging web service (type 0, and type 1 when "email_send_type" is
// 1), SMTP straight to the recipient's mail exchanger (type 1, sending type
// 2) or through a relay (type 1, sending type 3), and the seller's IM client
// (types 2 and 3).
//
// Installed into the daemon with Deamon::setMessageDispatch; sendMessages is
// called only by the message worker thread (an abandoned worker finishing its
// pass may overlap with its successor, which is why a handled message is
// deleted by its id). The dispatcher keeps no state between passes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "delivery/Clock.h"
#include "delivery/MessageDispatch.h"
#include "notify/ImChannel.h"
#include "notify/Mailer.h"

namespace Quorvel {

class MessageDispatcher : public MessageDispatch {
 public:
  // Used when neither the message nor "email_sender" names a sender.
  static const char* const kDefaultSender;

  // Builds the mailer for one e-mail: MX delivery or relay, and the port.
  using MailerFactory = std::function<std::unique_ptr<Mailer>(bool mxDelivery, uint16_t port)>;

  // `clock` stamps "sendMsgTime"; an empty `mailers` builds plain Mailers.
  MessageDispatcher(std::shared_ptr<Clock> clock, std::shared_ptr<ImChannel> im, MailerFactory mailers = {});

  // One pass: snapshot of the settings, "sendMsgTime" = now, then rounds of
  // at most one message of each type, in the order 0, 1, 2, until the queue
  // holds nothing more to try; then one round of the waiting IM messages.
  // A message whose channel fails and that stays queued (type 1 through the
  // web service or with an unknown sending type, type 2) sets its type aside
  // for the rest of the pass and is tried again by the next pass. Database
  // and HTTP client failures are raised and end the pass.
  void sendMessages() override;

 private:
  const std::shared_ptr<Clock> clock_;
  const std::shared_ptr<ImChannel> im_;
  const MailerFactory mailers_;
};

}  // namespace Quorvel
