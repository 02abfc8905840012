// Blocking-style network access for the mailer: IPv4 TCP connections with
// time-outs on connect, send and every receive, one UDP request/reply
// exchange with a time-out, host name resolution and the machine's host name.
//
// A Network object has no state of its own and may be used from any thread;
// a TcpSocket belongs to the one thread that created it (the message worker).
// The program's network is the port::Network entry of its Env (base/Env.h):
// the system's, unless a test puts in a decorator (for example one that
// resolves made-up host names to loopback addresses).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Quorvel::port {

// An IPv4 address and port, both in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
};

// Makes 127.0.0.1-style text of an IPv4 address in host byte order.
std::string formatIpv4(uint32_t address);

class TcpSocket {
 public:
  virtual ~TcpSocket() = default;
  // Connects to `to`, waiting at most `timeout`. False on refusal, error or
  // time-out.
  virtual bool connect(const Endpoint& to, std::chrono::milliseconds timeout) = 0;
  // Sends every byte, waiting at most `timeout` in all. False when the
  // connection failed or the peer did not take the bytes in time.
  virtual bool send(std::string_view bytes, std::chrono::milliseconds timeout) = 0;
  // Receives one line, up to and including its LF, into `line`, waiting at
  // most `timeout`. When the peer closes the connection after some bytes
  // without an LF, those bytes are the line. False on error, time-out, a
  // closed connection with nothing pending, or more than `maxLength` bytes
  // without an LF.
  virtual bool receiveLine(std::string& line, size_t maxLength, std::chrono::milliseconds timeout) = 0;
  // Closes the connection; later calls fail. Also done by the destructor.
  virtual void close() = 0;
};

class Network {
 public:
  virtual ~Network() = default;
  // The system's network.
  static std::shared_ptr<Network> makeProcessWide();
  // The IPv4 address of `host`: dotted text is taken as it stands, anything
  // else is looked up by name. Empty when the name does not resolve.
  virtual std::optional<uint32_t> resolve(const std::string& host) = 0;
  // A new unconnected TCP socket, or null when the system has none to give.
  virtual std::unique_ptr<TcpSocket> tcpSocket() = 0;
  // Sends `request` as one datagram to `server` and receives one datagram of
  // at most `maxReply` bytes from it (longer ones are cut) into `reply`,
  // waiting at most `timeout`. False on any failure or time-out.
  virtual bool exchangeDatagram(const Endpoint& server, std::string_view request, std::string& reply,
                                size_t maxReply, std::chrono::milliseconds timeout) = 0;
  // The machine's host name, or empty when it cannot be read.
  virtual std::string hostName() = 0;
};

// The system's network, through the platform's sockets (stateless: every
// call gives an equivalent object).
std::shared_ptr<Network> systemNetwork();

}  // namespace Quorvel::port
