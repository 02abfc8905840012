// Reads a mail the way a buyer's mail client would: the message text of an
// SMTP dialogue is handed to Python's `email` package, and what it decodes
// (subject, sender's display name and address, body) comes back as UTF-8.
// Tests only; one call runs one python3 process.
#pragma once

#include <string>

namespace Quorvel::test {

struct ParsedMail {
  bool ok = false;      // Python parsed it and found a text body
  std::string error;    // why not, or the headers Python found missing
  std::string subject;  // decoded, UTF-8
  std::string fromName;
  std::string fromAddress;
  std::string date;         // the Date header as sent
  std::string messageId;    // the Message-ID header as sent
  std::string contentType;  // e.g. "text/plain"
  std::string charset;      // the charset parameter, lower case
  std::string body;         // decoded, UTF-8, line ends as "\n"
  int dateYear = 0;         // the year Python read from Date
};

// `dialogue` is everything a client sent on one SMTP connection; the message
// is the text after the DATA command's line, up to the "\r\n.\r\n" line,
// with the dot-stuffing undone.
ParsedMail parseWithPython(const std::string& dialogue);

}  // namespace Quorvel::test
