// libFuzzer entry: a whole mail dialogue with a relay whose every reply line
// comes from the input. The first byte picks the login (on when odd); the
// rest is what the server says, line after line. The dialogue must end with
// a status made only of what the server said or of the mailer's own texts,
// within the reply bound, and report acceptance only after a "250".
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/ProcessWide.h"
#include "notify/Mailer.h"
#include "port/Socket.h"

namespace {

using namespace Quorvel;

// A relay that reads its replies from the input and swallows every command.
class ScriptedSocket : public port::TcpSocket {
 public:
  explicit ScriptedSocket(std::string_view replies) : replies_(replies) {}
  bool connect(const port::Endpoint&, std::chrono::milliseconds) override { return true; }
  bool send(std::string_view bytes, std::chrono::milliseconds) override { return open_ && !bytes.empty(); }
  // The same rules as the system's sockets: a line ends with its LF, the
  // bytes before the close are the last line, and a line longer than
  // `maxLength` fails.
  bool receiveLine(std::string& line, size_t maxLength, std::chrono::milliseconds) override {
    line.clear();
    if (!open_ || replies_.empty()) return false;
    size_t lf = replies_.find('\n');
    size_t length = lf == std::string_view::npos ? replies_.size() : lf + 1;
    if (length > maxLength) return false;
    line.assign(replies_.substr(0, length));
    replies_.remove_prefix(length);
    return true;
  }
  void close() override { open_ = false; }

 private:
  std::string_view replies_;
  bool open_ = true;
};

class ScriptedNetwork : public port::Network {
 public:
  std::string_view replies;
  std::optional<uint32_t> resolve(const std::string&) override { return 0x7F000001; }
  std::unique_ptr<port::TcpSocket> tcpSocket() override { return std::make_unique<ScriptedSocket>(replies); }
  bool exchangeDatagram(const port::Endpoint&, std::string_view, std::string&, size_t,
                        std::chrono::milliseconds) override {
    return false;
  }
  std::string hostName() override { return "fuzz.example"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::shared_ptr<ScriptedNetwork> network = std::make_shared<ScriptedNetwork>();
  static const Env env = Env().set<port::Network>(network);
  if (size == 0) return 0;
  // A copy of exactly the input's bytes, so AddressSanitizer flags any read past it.
  const std::string replies(reinterpret_cast<const char*>(data) + 1, size - 1);
  network->replies = replies;

  Mailer mailer(env, false, 25);
  mailer.setSender("Vendara <noreply@localhost>");
  mailer.addRecipient("buyer@example.com");
  mailer.setSubject("fuzz");
  mailer.setMessage("line one\nline two\n.\n");
  mailer.setServer("relay.example");
  if (data[0] & 1) mailer.setLogin("seller", "secret");
  mailer.send();

  const std::string& status = mailer.status();
  if (status.empty() || status.size() > 65536 + 4096) __builtin_trap();
  if (mailer.accepted() && status.compare(0, 3, "250") != 0) __builtin_trap();
  return 0;
}
