#include "notify/Mailer.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "notify/MailExchangers.h"
#include "port/Random.h"

namespace Quorvel {

namespace {

constexpr size_t kMaxRecipients = 100;
// A reply line is at most 512 bytes by the protocol; a whole multi-line
// reply (EHLO lists its extensions) is kept within a generous bound.
constexpr size_t kMaxReplyLine = 4096;
constexpr size_t kMaxReply = 65536;

const char kNoRecipient[] = "451 Requested action aborted: local error who am I mailing";
const char kNoSender[] = "451 Requested action aborted: local error who am I";
const char kNoServer[] = "451 Requested action aborted: local error no SMTP/name server/smtp server";
const char kNoRelayHost[] = "451 Requested action aborted: local error in processing";
const char kNoExchangers[] = "451 Requested action aborted: No MX records ascertained";
const char kNoSocket[] = "451 Requested action aborted: socket function error";

bool holdsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The commands and replies of one connection. Every reply that arrives becomes
// the mailer's status before it is examined; a failed send or receive leaves
// the status to the caller.
class Dialogue {
 public:
  Dialogue(port::TcpSocket& socket, std::string& status, const Mailer::Timeouts& timeouts, Clock& clock)
      : socket_(socket), status_(status), timeouts_(timeouts), clock_(clock) {}

  bool send(std::string_view bytes) { return socket_.send(bytes, timeouts_.reply); }

  bool receive() {
    std::string reply;
    if (!readReply(reply)) return false;
    status_ = std::move(reply);
    return true;
  }

  bool command(std::string_view line, const char* sendFailure, const char* receiveFailure) {
    if (!send(line)) {
      status_ = sendFailure;
      return false;
    }
    if (!receive()) {
      status_ = receiveFailure;
      return false;
    }
    return true;
  }

  // Ends the session politely: QUIT and its reply, which changes nothing.
  void quit() {
    std::string ignored;
    if (send("QUIT\r\n")) readReply(ignored);
    socket_.close();
  }

 private:
  // Reads one whole reply: lines up to the one whose code is not followed by
  // "-", all within one reply time-out.
  bool readReply(std::string& reply) {
    const Clock::Instant deadline = clock_.monotonic() + timeouts_.reply;
    std::string line;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_.monotonic());
      if (!socket_.receiveLine(line, kMaxReplyLine, std::max(left, std::chrono::milliseconds(0)))) return false;
      reply += line;
      if (reply.size() > kMaxReply) return false;
      if (line.size() < 4 || line[3] != '-') return true;
    }
  }

  port::TcpSocket& socket_;
  std::string& status_;
  const Mailer::Timeouts& timeouts_;
  Clock& clock_;
};

// LOGIN authentication after a successful EHLO whose reply was `ehloReply`.
bool authenticateLogin(Dialogue& dialogue, std::string& status, const std::string& ehloReply,
                       const std::string& user, const std::string& password) {
  if (user.empty()) {
    dialogue.send("QUIT\r\n");
    return false;
  }
  std::string offered = ehloReply;
  std::transform(offered.begin(), offered.end(), offered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (offered.find("LOGIN") == std::string::npos) {
    status = "554 only LOGIN or PLAIN authentication is handled at present!";
    dialogue.send("QUIT\r\n");
    return false;
  }
  struct Step {
    std::string line;
    const char* sendFailure;
    const char* receiveFailure;
    const char* expected;
  };
  const Step steps[] = {
      {"auth LOGIN\r\n", "554 send failure: \"auth LOGIN\"", "554 receive failure: waiting on username question!",
       "334 VXNlcm5hbWU6"},
      {base64Encode(user) + "\r\n", "554 send failure: sending username",
       "554 receive failure: waiting on password question!", "334 UGFzc3dvcmQ6"},
      {base64Encode(password) + "\r\n", "554 send failure: sending password",
       "554 receive failure: waiting on auth login response!", "235"},
  };
  for (const auto& step : steps) {
    if (!dialogue.command(step.line, step.sendFailure, step.receiveFailure)) return false;
    if (!startsWith(status, step.expected)) {
      dialogue.send("QUIT\r\n");
      return false;
    }
  }
  return true;
}

}  // namespace

Mailer::Mailer(const Env& env, bool mxDelivery, uint16_t port)
    : port_(port),
      mxDelivery_(mxDelivery),
      clock_(env.clock()),
      network_(env.get<port::Network>()),
      dnsPort_(env.get<MailerOptions>()->dnsPort),
      timeouts_(env.get<MailerOptions>()->timeouts) {}

bool Mailer::setSender(const std::string& text) {
  if (text.empty() || holdsLineBreak(text)) return false;
  sender_ = parseMailAddress(text);
  return true;
}

bool Mailer::addRecipient(const std::string& text) {
  if (text.empty() || holdsLineBreak(text) || recipients_.size() >= kMaxRecipients) return false;
  if (recipients_.empty()) domain_ = deliveryDomain(text);
  recipients_.push_back(parseMailAddress(text));
  return true;
}

void Mailer::setSubject(const std::string& subject) {
  if (subject.empty()) return;
  subject_ = subject;
  std::replace_if(subject_.begin(), subject_.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
}

bool Mailer::setMessage(const std::string& text) {
  if (text.empty()) return false;
  message_ = text;
  return true;
}

void Mailer::setServer(const std::string& server) { server_ = server; }

void Mailer::setLogin(const std::string& user, const std::string& password) {
  user_ = user;
  password_ = password;
  authenticate_ = !user.empty();
}

bool Mailer::addressList(std::vector<port::Endpoint>& addresses) {
  if (mxDelivery_) {
    MxLookup lookup{server_, dnsPort_, domain_, port_, timeouts_.dns};
    if (!lookupMailExchangers(*network_, lookup, addresses)) {
      status_ = kNoExchangers;
      return false;
    }
    return true;
  }
  auto relay = network_->resolve(server_);
  if (!relay) {
    status_ = kNoRelayHost;
    return false;
  }
  addresses.push_back({*relay, port_});
  return true;
}

std::string Mailer::newMessageId() const {
  unsigned char random[12];
  port::randomBytes(random, sizeof random);
  static const char kHex[] = "0123456789abcdef";
  std::string id = std::to_string(std::time(nullptr)) + ".";
  for (unsigned char b : random) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  std::string domain = deliveryDomain(sender_.mailbox);
  const bool usable = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
  return id + "@" + (usable ? domain : std::string("vendara.local"));
}

void Mailer::send() {
  status_.clear();
  accepted_ = false;
  if (recipients_.empty()) {
    status_ = kNoRecipient;
    return;
  }
  if (sender_.mailbox.empty()) {
    status_ = kNoSender;
    return;
  }
  if (server_.empty()) {
    status_ = kNoServer;
    return;
  }
  std::vector<port::Endpoint> addresses;
  if (!addressList(addresses)) return;
  std::string text = buildMailText(sender_, recipients_, subject_, message_, std::time(nullptr), newMessageId());
  if (addresses.empty()) {
    status_ = kNoExchangers;
    return;
  }
  for (const auto& address : addresses) {
    auto socket = network_->tcpSocket();
    if (!socket) {
      status_ = kNoSocket;
      return;
    }
    if (attempt(*socket, address, text)) {
      accepted_ = true;
      return;
    }
  }
}

bool Mailer::attempt(port::TcpSocket& socket, const port::Endpoint& address, const std::string& text) {
  if (!socket.connect(address, timeouts_.connect)) {
    status_ = "554 Transaction failed: server connect error.";
    return false;
  }
  Dialogue dialogue(socket, status_, timeouts_, clock_);
  if (!dialogue.receive()) {
    status_ = "554 Transaction failed: server connect response error.";
    return false;
  }

  std::string host = network_->hostName();
  if (host.empty()) host = "localhost";
  if (!dialogue.command("EHLO " + host + "\r\n", "554 Transaction failed: EHLO send",
                        "554 Transaction failed: EHLO receipt")) {
    return false;
  }
  std::string ehloReply = status_;
  if (!startsWith(status_, "250")) {
    if (authenticate_) {
      status_ = "554 possibly trying to use AUTH without ESMTP server, ERROR!";
      return false;
    }
    if (!dialogue.command("HELO " + host + "\r\n", "554 Transaction failed: HELO send",
                          "554 Transaction failed: HELO receipt")) {
      return false;
    }
    if (!startsWith(status_, "250")) {
      dialogue.quit();
      return false;
    }
  }

  if (authenticate_ && !authenticateLogin(dialogue, status_, ehloReply, user_, password_)) return false;

  if (!dialogue.command("MAIL FROM:<" + sender_.mailbox + ">\r\n", "554 MAIL FROM sending error",
                        "554 MAIL FROM receipt error")) {
    return false;
  }
  if (!startsWith(status_, "250")) {
    dialogue.quit();
    return false;
  }

  // A refused recipient does not end the transaction: the server's answer to
  // DATA decides.
  for (const auto& recipient : recipients_) {
    dialogue.command("RCPT TO: <" + recipient.mailbox + ">\r\n", "554 Transaction failed", "554 Transaction failed");
  }

  if (!dialogue.command("DATA\r\n", "554 DATA send error", "554 DATA, server response error")) return false;
  if (!startsWith(status_, "354")) {
    dialogue.quit();
    return false;
  }
  const char* dataFailure = "554 DATA, server response error (actual send)";
  if (!dialogue.command(text, dataFailure, dataFailure)) return false;
  if (!startsWith(status_, "250")) {
    dialogue.quit();
    return false;
  }
  dialogue.quit();
  return true;
}

}  // namespace Quorvel
