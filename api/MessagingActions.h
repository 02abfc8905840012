// The action with which the seller tries the IM channel from the web UI:
// "wwTest" queues a fixed test message to the IM account named in `to`, from
// the marketplace account logged in now. The message is sent by the next
// dispatch pass, not here; the answer only says it was queued. "mailTest"
// queues a fixed test e-mail to the seller's notice address
// ("notice_mailto") from "email_sender", the same way.
//
// Register before the server thread starts; the action then runs on the
// server thread.
#pragma once

namespace Quorvel {

void registerMessagingActions();

}  // namespace Quorvel
