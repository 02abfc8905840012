#include "tests/notify/TestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace Quorvel::test {

namespace {

int bindLoopback(int type, uint16_t& port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(kLoopback);
  socklen_t length = sizeof sa;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    throw std::runtime_error("test server cannot bind");
  }
  port = ntohs(sa.sin_port);
  return fd;
}

// Waits until `fd` is readable; false when the stop pipe was written.
bool waitReadable(int fd, int stopFd) {
  pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents) return false;
    if (p[0].revents) return true;
  }
}

void stop(int stopPipe[2], std::thread& thread) {
  char byte = 1;
  (void)!write(stopPipe[1], &byte, 1);
  if (thread.joinable()) thread.join();
  close(stopPipe[0]);
  close(stopPipe[1]);
}

}  // namespace

SmtpTestServer::SmtpTestServer(std::initializer_list<std::vector<std::string>> scripts) : scripts_(scripts) {
  listenFd_ = bindLoopback(SOCK_STREAM, port_);
  if (listen(listenFd_, 8) != 0 || pipe(stopPipe_) != 0) throw std::runtime_error("test server cannot listen");
  thread_ = std::thread([this] { run(); });
}

SmtpTestServer::~SmtpTestServer() {
  stop(stopPipe_, thread_);
  close(listenFd_);
}

void SmtpTestServer::run() {
  for (size_t index = 0; waitReadable(listenFd_, stopPipe_[0]); ++index) {
    int fd = accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    serve(fd, index < scripts_.size() ? scripts_[index] : std::vector<std::string>{});
    close(fd);
  }
}

void SmtpTestServer::serve(int fd, const std::vector<std::string>& script) {
  std::string received;
  size_t consumed = 0;  // bytes of `received` already answered
  size_t next = 0;
  bool inData = false;
  auto reply = [&] {
    if (next >= script.size()) return;
    const std::string& line = script[next++];
    inData = line.compare(0, 3, "354") == 0;
    std::string bytes = line + "\r\n";
    (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  };
  reply();
  char buffer[4096];
  while (waitReadable(fd, stopPipe_[0])) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<size_t>(n));
    for (;;) {
      size_t end = inData ? received.find("\r\n.\r\n", consumed) : received.find('\n', consumed);
      if (end == std::string::npos) break;
      consumed = end + (inData ? 5 : 1);
      reply();
    }
  }
  std::lock_guard lock(mutex_);
  transcripts_.push_back(received);
  changed_.notify_all();
}

std::string SmtpTestServer::transcript(size_t index) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return transcripts_.size() > index; });
  return transcripts_[index];
}

size_t SmtpTestServer::connections() {
  std::lock_guard lock(mutex_);
  return transcripts_.size();
}

DnsTestServer::DnsTestServer(Handler handler) : handler_(std::move(handler)) {
  fd_ = bindLoopback(SOCK_DGRAM, port_);
  if (pipe(stopPipe_) != 0) throw std::runtime_error("test server cannot make its stop pipe");
  thread_ = std::thread([this] { run(); });
}

DnsTestServer::~DnsTestServer() {
  stop(stopPipe_, thread_);
  close(fd_);
}

void DnsTestServer::run() {
  while (waitReadable(fd_, stopPipe_[0])) {
    char buffer[2048];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) continue;
    std::string query(buffer, static_cast<size_t>(n));
    {
      std::lock_guard lock(mutex_);
      queries_.push_back(query);
    }
    if (auto answer = handler_(query)) {
      sendto(fd_, answer->data(), answer->size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
  }
}

std::vector<std::string> DnsTestServer::queries() {
  std::lock_guard lock(mutex_);
  return queries_;
}

std::optional<uint32_t> TestNetwork::resolve(const std::string& name) {
  auto found = hosts.find(name);
  if (found != hosts.end()) return found->second;
  in_addr literal{};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) return ntohl(literal.s_addr);
  return std::nullopt;
}

std::unique_ptr<port::TcpSocket> TestNetwork::tcpSocket() {
  if (noSockets) return nullptr;
  return port::systemNetwork()->tcpSocket();
}

bool TestNetwork::exchangeDatagram(const port::Endpoint& server, std::string_view request, std::string& reply,
                                   size_t maxReply, std::chrono::milliseconds timeout) {
  return port::systemNetwork()->exchangeDatagram(server, request, reply, maxReply, timeout);
}

}  // namespace Quorvel::test
