// In-process SMTP and DNS servers on 127.0.0.1 (free ports) for the mailer's
// tests, and a network that resolves made-up host names to loopback
// addresses. Each server runs one thread of its own, which it owns and joins
// when destroyed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "port/Socket.h"

namespace Quorvel::test {

// Plays one script of replies per connection, in the order connections come,
// and records every byte each connection sent. A script's first reply is the
// greeting; each later one answers the next command line (after a reply
// starting with "354", the next command is the message text up to its
// closing dot line). Replies are given without their final CR LF. When a
// script runs out, the server stays silent until the client closes.
class SmtpTestServer {
 public:
  explicit SmtpTestServer(std::initializer_list<std::vector<std::string>> scripts);
  ~SmtpTestServer();
  uint16_t port() const { return port_; }
  // Waits until connection `index` has been closed by the client and returns
  // what it received.
  std::string transcript(size_t index);
  // Connections closed so far.
  size_t connections();

 private:
  void run();
  void serve(int fd, const std::vector<std::string>& script);

  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::vector<std::vector<std::string>> scripts_;  // read only by the thread after start
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> transcripts_;  // guarded by mutex_
  std::thread thread_;                    // accepts and serves connections one at a time
};

// Answers each datagram with what `handler` makes of it (no answer when it
// gives nothing) and records the requests.
class DnsTestServer {
 public:
  using Handler = std::function<std::optional<std::string>(const std::string& query)>;
  explicit DnsTestServer(Handler handler);
  ~DnsTestServer();
  uint16_t port() const { return port_; }
  std::vector<std::string> queries();

 private:
  void run();

  int fd_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  Handler handler_;
  std::mutex mutex_;
  std::vector<std::string> queries_;  // guarded by mutex_
  std::thread thread_;                // receives and answers datagrams
};

// The system's sockets with a table of host names instead of name lookups
// (dotted addresses still resolve; other names do not), a fixed host name,
// and optionally no TCP sockets at all.
class TestNetwork : public port::Network {
 public:
  std::map<std::string, uint32_t> hosts;
  std::string host = "client.test";
  bool noSockets = false;

  std::optional<uint32_t> resolve(const std::string& name) override;
  std::unique_ptr<port::TcpSocket> tcpSocket() override;
  bool exchangeDatagram(const port::Endpoint& server, std::string_view request, std::string& reply,
                        size_t maxReply, std::chrono::milliseconds timeout) override;
  std::string hostName() override { return host; }
};

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

}  // namespace Quorvel::test
