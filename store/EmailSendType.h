// How e-mail goes out: the setting "email_send_type" (the stored number is
// the value; the settings' rules allow 0 to 3). The dispatcher sends by it and
// the web UI's mail test names it. Constants only; any thread.
#pragma once

namespace Quorvel {

enum class EmailSendType : int {
  kNone = 0,          // no e-mail is sent; messages wait for a setting
  kMakerService = 1,  // through the maker's messaging service ("email_send")
  kDirect = 2,        // straight to the addressee's mail exchanger (MX lookup)
  kRelay = 3,         // through the SMTP relay "smtp_host"
};

}  // namespace Quorvel
