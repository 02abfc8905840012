// A TCP server on the loopback address over Boost.Asio: accepts connections
// and reads from them, handing every received byte, in order, to `onData`.
// `httpServer` builds HTTP on top of it.
//
// Everything runs on the thread that runs the I/O context (the server thread).
// Not copyable; the I/O context and the clock must outlive the server.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "server/ClockTimer.h"
#include "server/HttpRequest.h"

namespace Quorvel {

class server {
 public:
  // Opens, configures (SO_REUSEADDR), binds 127.0.0.1:`port` and listens, then
  // starts accepting. Raises boost::system::system_error naming the failing
  // step ("open", "set_option", "bind", "listen"). Port 0 takes a free port.
  // After a failed accept the next one starts `acceptRetryDelay` later on
  // `clock`.
  server(boost::asio::io_context& io, std::uint16_t port, Clock& clock,
         std::chrono::milliseconds acceptRetryDelay = kAcceptRetryDelay);
  server(const server&) = delete;
  server& operator=(const server&) = delete;
  virtual ~server();

  static constexpr std::chrono::milliseconds kAcceptRetryDelay{50};

  // The port actually listened on.
  std::uint16_t localPort() const { return port_; }

 protected:
  // Room for one read, left unfilled: a read writes over what it delivers.
  struct ReadBuffer {
    char bytes[16 * 1024];
  };

  virtual void onAccept(const boost::system::error_code& error, SocketPtr socket);
  virtual void startRead(SocketPtr socket);
  virtual void onRead(const boost::system::error_code& error, std::shared_ptr<ReadBuffer> buffer, std::size_t bytes,
                      SocketPtr socket);
  virtual void onData(SocketPtr socket, std::shared_ptr<std::string> data);
  virtual void onClose(SocketPtr socket);

  void startAccept();

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::acceptor acceptor_;

 private:
  const std::chrono::milliseconds acceptRetryDelay_;
  ClockTimer acceptRetry_;  // the pause after a failed accept

  std::uint16_t port_ = 0;  // the port listened on, read once it is bound
};

}  // namespace Quorvel
