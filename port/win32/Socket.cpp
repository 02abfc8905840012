#include "port/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

namespace Quorvel::port {

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the process, on the first use of the network,
// and never stopped (threads may use it until the process ends).
bool winsockReady() {
  static const bool ready = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

sockaddr_in toSockaddr(const Endpoint& endpoint) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(endpoint.address);
  sa.sin_port = htons(endpoint.port);
  return sa;
}

// Milliseconds left until `deadline`, never negative, clamped to the poll's range.
int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until `fd` is ready for `events` or the deadline passes. False on
// time-out or failure. A failed connect shows as an error or hang-up.
bool waitFor(SOCKET fd, short events, Clock::time_point deadline) {
  WSAPOLLFD p{fd, events, 0};
  const int rc = WSAPoll(&p, 1, remainingMs(deadline));
  if (rc <= 0) return false;
  return (p.revents & events) != 0 || (p.revents & (POLLHUP)) != 0;
}

SOCKET openNonBlocking(int type, int protocol) {
  if (!winsockReady()) return INVALID_SOCKET;
  SOCKET fd = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET) return fd;
  u_long nonBlocking = 1;
  if (ioctlsocket(fd, FIONBIO, &nonBlocking) != 0) {
    closesocket(fd);
    return INVALID_SOCKET;
  }
  return fd;
}

// A non-blocking socket used as a blocking one with deadlines.
class WinsockTcpSocket : public TcpSocket {
 public:
  explicit WinsockTcpSocket(SOCKET fd) : fd_(fd) {}
  ~WinsockTcpSocket() override { close(); }

  bool connect(const Endpoint& to, std::chrono::milliseconds timeout) override {
    if (fd_ == INVALID_SOCKET) return false;
    auto deadline = Clock::now() + timeout;
    sockaddr_in sa = toSockaddr(to);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (!waitFor(fd_, POLLWRNORM, deadline)) return false;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return false;
    return error == 0;
  }

  bool send(std::string_view bytes, std::chrono::milliseconds timeout) override {
    if (fd_ == INVALID_SOCKET) return false;
    auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
      const int part = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
      const int n = ::send(fd_, bytes.data(), part, 0);
      if (n > 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
      } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!waitFor(fd_, POLLWRNORM, deadline)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  bool receiveLine(std::string& line, size_t maxLength, std::chrono::milliseconds timeout) override {
    line.clear();
    if (fd_ == INVALID_SOCKET) return false;
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
      if (!waitFor(fd_, POLLRDNORM, deadline)) return false;
      char buffer[1024];
      const int n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        pending_.append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        if (pending_.empty()) return false;
        line.swap(pending_);
        pending_.clear();
        return true;
      } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
        return false;
      }
    }
  }

  void close() override {
    if (fd_ != INVALID_SOCKET) closesocket(fd_);
    fd_ = INVALID_SOCKET;
  }

 private:
  SOCKET fd_;            // owned; INVALID_SOCKET once closed
  std::string pending_;  // bytes received after the last line handed out
};

class WinsockNetwork : public Network {
 public:
  std::optional<uint32_t> resolve(const std::string& host) override {
    if (host.empty() || !winsockReady()) return std::nullopt;
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
    SOCKET fd = openNonBlocking(SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET) return nullptr;
    return std::make_unique<WinsockTcpSocket>(fd);
  }

  bool exchangeDatagram(const Endpoint& server, std::string_view request, std::string& reply, size_t maxReply,
                        std::chrono::milliseconds timeout) override {
    reply.clear();
    if (request.size() > 65507 || maxReply > 65536) return false;
    auto deadline = Clock::now() + timeout;
    SOCKET fd = openNonBlocking(SOCK_DGRAM, IPPROTO_UDP);
    if (fd == INVALID_SOCKET) return false;
    // Connected, so that only datagrams from the server are received.
    sockaddr_in sa = toSockaddr(server);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
              ::send(fd, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
    while (ok) {
      if (!waitFor(fd, POLLRDNORM, deadline)) {
        ok = false;
        break;
      }
      reply.resize(maxReply);
      const int n = ::recv(fd, reply.data(), static_cast<int>(reply.size()), 0);
      if (n >= 0) {
        reply.resize(static_cast<size_t>(n));
        break;
      }
      const int error = WSAGetLastError();
      if (error == WSAEMSGSIZE) break;  // longer than maxReply: the buffer holds its first part
      reply.clear();
      if (error != WSAEWOULDBLOCK) ok = false;
    }
    closesocket(fd);
    return ok;
  }

  std::string hostName() override {
    if (!winsockReady()) return {};
    char name[257] = {};
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

std::shared_ptr<Network> systemNetwork() { return std::make_shared<WinsockNetwork>(); }

std::shared_ptr<Network> Network::makeProcessWide() { return systemNetwork(); }

}  // namespace Quorvel::port
