#include "port/Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>

namespace Quorvel::port {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in toSockaddr(const Endpoint& endpoint) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(endpoint.address);
  sa.sin_port = htons(endpoint.port);
  return sa;
}

// Milliseconds left until `deadline`, never negative, clamped to poll's range.
int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until `fd` is ready for `events` or the deadline passes. False on
// time-out or poll failure; EINTR is retried.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, remainingMs(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

int openNonBlocking(int type) {
  return socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// A non-blocking descriptor used as a blocking one with deadlines.
class PosixTcpSocket : public TcpSocket {
 public:
  explicit PosixTcpSocket(int fd) : fd_(fd) {}
  ~PosixTcpSocket() override { close(); }

  bool connect(const Endpoint& to, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return false;
    auto deadline = Clock::now() + timeout;
    sockaddr_in sa = toSockaddr(to);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (!waitFor(fd_, POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
  }

  bool send(std::string_view bytes, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return false;
    auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!waitFor(fd_, POLLOUT, deadline)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  bool receiveLine(std::string& line, size_t maxLength, std::chrono::milliseconds timeout) override {
    line.clear();
    if (fd_ < 0) return false;
    auto deadline = Clock::now() + timeout;
    for (;;) {
      size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        if (lf + 1 > maxLength) return false;
        line = pending_.substr(0, lf + 1);
        pending_.erase(0, lf + 1);
        return true;
      }
      if (pending_.size() > maxLength) return false;
      if (!waitFor(fd_, POLLIN, deadline)) return false;
      char buffer[1024];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        pending_.append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        if (pending_.empty()) return false;
        line.swap(pending_);
        pending_.clear();
        return true;
      } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
        return false;
      }
    }
  }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;               // owned; -1 once closed
  std::string pending_;  // bytes received after the last line handed out
};

class PosixNetwork : public Network {
 public:
  std::optional<uint32_t> resolve(const std::string& host) override {
    if (host.empty()) return std::nullopt;
    in_addr literal{};
    if (inet_pton(AF_INET, host.c_str(), &literal) == 1) return ntohl(literal.s_addr);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
  }

  std::unique_ptr<TcpSocket> tcpSocket() override {
    int fd = openNonBlocking(SOCK_STREAM);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixTcpSocket>(fd);
  }

  bool exchangeDatagram(const Endpoint& server, std::string_view request, std::string& reply, size_t maxReply,
                        std::chrono::milliseconds timeout) override {
    reply.clear();
    auto deadline = Clock::now() + timeout;
    int fd = openNonBlocking(SOCK_DGRAM);
    if (fd < 0) return false;
    // Connected, so that only datagrams from the server are received.
    sockaddr_in sa = toSockaddr(server);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
              ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    while (ok) {
      if (!waitFor(fd, POLLIN, deadline)) {
        ok = false;
        break;
      }
      reply.resize(maxReply);
      ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
      if (n >= 0) {
        reply.resize(static_cast<size_t>(n));
        break;
      }
      reply.clear();
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) ok = false;
    }
    ::close(fd);
    return ok;
  }

  std::string hostName() override {
    char name[1025] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
  }
};

}  // namespace

std::string formatIpv4(uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::shared_ptr<Network> systemNetwork() { return std::make_shared<PosixNetwork>(); }

std::shared_ptr<Network> Network::makeProcessWide() { return systemNetwork(); }

}  // namespace Quorvel::port
