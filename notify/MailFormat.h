// The text side of a plain e-mail: address parsing, body normalisation for
// the SMTP DATA phase, Base64 for LOGIN authentication and the message text.
//
// Pure functions; any thread may call them. Text is passed through as bytes
// (GBK in this program): nothing is transfer-encoded.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace Quorvel {

struct MailAddress {
  std::string name;     // display name, may be empty
  std::string mailbox;  // empty when the text was malformed
};

// "Name <box>" gives name "Name " and mailbox "box"; "<box> Name " gives
// name "Name"; "box" gives the mailbox alone; text with only one of "<" and
// ">" (or ">" before "<") gives an empty address.
MailAddress parseMailAddress(const std::string& text);

// The text after the first "@", cut before the first ">" after it; empty
// when there is no "@".
std::string deliveryDomain(const std::string& text);

// Makes a body safe for the DATA phase: every bare LF gets its CR, a "." that
// starts a line is doubled, and no line is left longer than 998 characters
// (breaks are made between two-byte GBK characters, never inside one, and a
// "." that a break brings to the start of a line is doubled too).
std::string normaliseMailBody(std::string_view body);

// Standard alphabet, "=" padding, no line breaks.
std::string base64Encode(std::string_view bytes);

// From/Reply-To, To, Date (local time of `now`), Subject, an empty line, the
// normalised body and the closing "\r\n.\r\n".
std::string buildMailText(const MailAddress& sender, const std::vector<MailAddress>& recipients,
                          const std::string& subject, const std::string& normalisedBody, std::time_t now);

}  // namespace Quorvel
