// The action with which the seller tries the IM channel from the web UI:
// "wwTest" queues a fixed test message to the IM account named in `to`, from
// the marketplace account logged in now. The message is sent by the next
// dispatch pass, not here; the answer only says it was queued. "mailTest"
// queues a fixed test e-mail to the seller's notice address
// ("notice_mailto") from "email_sender", the same way.
//
// "msgQueue" shows the outgoing queue to the seller: "lst" (the oldest
// messages, their failed tries and last error), "retry" and "del" (`id`); a
// message a dispatch pass is sending now is neither retried nor deleted.
//
// Register before the server thread starts; the action then runs on the
// server thread.
#pragma once

#include "base/Env.h"

namespace Quorvel {

// What wwTest answers where the IM client cannot run (UTF-8).
extern const char* const kNoImClientHere;

void registerMessagingActions(const Env& env);

}  // namespace Quorvel
