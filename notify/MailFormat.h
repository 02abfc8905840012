// The text side of a plain e-mail: address parsing, body normalisation for
// the SMTP DATA phase, Base64 for LOGIN authentication and the MIME message
// text (GBK text in base64, headers as encoded words).
//
// Pure functions; any thread may call them. Text arrives as GBK bytes.
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

// A header value as it may stand in a header line: printable ASCII without
// "=?" stays as it is, anything else becomes RFC 2047 base64 encoded words
// in GBK, each of at most 36 bytes (58 characters) and never splitting a GBK character,
// folded onto continuation lines.
std::string encodeHeaderText(std::string_view gbkText);

// "Tue, 08 Dec 2026 18:56:25 +0800": the local time of `now` with its
// numeric offset from UTC, day and month names in English.
std::string mailDate(std::time_t now);

// The body for the DATA phase: line ends made CR LF, the bytes base64
// encoded in lines of 76 characters.
std::string base64MailBody(std::string_view body);

// From (display name as an encoded word or quoted text), Reply-To, To, Date
// (local time of `now`), Subject, Message-ID, the MIME headers of a GBK
// text/plain body in base64, an empty line, the body and the closing
// "\r\n.\r\n". `messageId` is given without its angle brackets.
std::string buildMailText(const MailAddress& sender, const std::vector<MailAddress>& recipients,
                          const std::string& subject, std::string_view body, std::time_t now,
                          const std::string& messageId);

}  // namespace Quorvel
