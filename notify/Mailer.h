// Sends one plain-text e-mail over SMTP, either straight to the mail
// exchangers of the recipient's domain (found with the mailer's own DNS MX
// query) or through a relay host with optional LOGIN authentication.
//
// The dispatch pass builds one Mailer per queued e-mail, sets it up, calls
// send once and discards it. The outcome is only the status text (an
// SMTP-style reply line); nothing is thrown. A Mailer belongs to the one
// thread that uses it (the message worker). It reaches the network, waits
// and counts its deadlines as the Env it is built with says (its
// port::Network, its MailerOptions, its clock).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Codes.h"
#include "base/Env.h"
#include "notify/MailFormat.h"
#include "port/Socket.h"

namespace Quorvel {

struct MailTimeouts {
  std::chrono::milliseconds connect{15000};
  std::chrono::milliseconds reply{30000};  // for each whole SMTP reply
  std::chrono::milliseconds dns{5000};     // for the MX reply datagram
};

// Where and how long the mailer talks to the outside (an entry of the Env;
// tests put in their own).
struct MailerOptions {
  MailTimeouts timeouts;
  std::uint16_t dnsPort = kDnsPort;  // the DNS server's port for MX queries
  std::uint16_t mxPort = kSmtpPort;  // the exchangers' port for MX delivery
  std::uint16_t relayPort = kSmtpPort;  // the relay's port when "smtp_port" names none
};

class Mailer {
 public:
  using Timeouts = MailTimeouts;

  // `mxDelivery`: look up the recipient domain's exchangers (true) or use the
  // relay named by setServer (false). `port`: the SMTP port to connect to.
  // The Env's clock must outlive the Mailer.
  Mailer(const Env& env, bool mxDelivery, uint16_t port);

  // Parses the text as an address. Refused (false, nothing changed) when the
  // text is empty or holds a line break.
  bool setSender(const std::string& text);
  // Adds a To recipient; the first one also gives the delivery domain.
  // Refused when the text is empty, holds a line break, or 100 recipients
  // are already there.
  bool addRecipient(const std::string& text);
  // Ignored when empty; line breaks become spaces so the subject stays one
  // header line.
  void setSubject(const std::string& subject);
  // Refused when empty; otherwise replaces the body (sent as GBK text in
  // base64, line ends made CR LF).
  bool setMessage(const std::string& text);
  // The DNS server to ask (MX delivery) or the relay host (relay delivery).
  void setServer(const std::string& server);
  // Relay login; authentication is on exactly when `user` is not empty.
  void setLogin(const std::string& user, const std::string& password);

  // Runs the transaction; the result is in status() and accepted().
  void send();
  const std::string& status() const { return status_; }
  // Whether a server accepted the message (its reply to the mail text was
  // positive) in the last send.
  bool accepted() const { return accepted_; }

 private:
  bool addressList(std::vector<port::Endpoint>& addresses);
  // "SECONDS.RANDOM@DOMAIN", the domain of the sender's mailbox.
  std::string newMessageId() const;
  // One attempt on one address; true when the message was accepted.
  bool attempt(port::TcpSocket& socket, const port::Endpoint& address, const std::string& text);

  std::vector<MailAddress> recipients_;
  MailAddress sender_;
  std::string subject_;
  std::string message_;  // body as given (GBK); line ends and encoding are made at send
  std::string domain_;   // delivery domain, from the first recipient
  std::string server_;
  uint16_t port_;
  bool mxDelivery_;
  bool authenticate_ = false;
  std::string user_;
  std::string password_;
  std::string status_;
  bool accepted_ = false;

  Clock& clock_;
  std::shared_ptr<port::Network> network_;
  uint16_t dnsPort_;
  Timeouts timeouts_;
};

}  // namespace Quorvel
