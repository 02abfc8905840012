// The kinds of queued message (column `msg_queue`.`type`): how a message
// reaches its addressee. The message queue keeps one list per kind; the
// delivery, the seller notices and the web UI queue them, and the dispatcher
// sends them kind by kind. Constants only; any thread.
#pragma once

namespace Quorvel {

enum MsgType : int {
  kWebMessage = 0,   // the maker's messaging service ("web_send")
  kEmail = 1,        // e-mail, the way "email_send_type" says
  kChat = 2,         // the IM client, at once
  kWaitingChat = 3,  // the IM client, once the buyer's chat window is open
};

}  // namespace Quorvel
