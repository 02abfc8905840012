#include "server/Server.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/socket_base.hpp>

namespace Quorvel {

namespace asio = boost::asio;
using boost::asio::ip::tcp;

server::server(asio::io_context& io, std::uint16_t port, Clock& clock, std::chrono::milliseconds acceptRetryDelay)
    : io_(io), acceptor_(io), acceptRetryDelay_(acceptRetryDelay), acceptRetry_(io, clock) {
  tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  acceptor_.open(endpoint.protocol());
  acceptor_.set_option(asio::socket_base::reuse_address(true));
  acceptor_.bind(endpoint);
  acceptor_.listen(asio::socket_base::max_listen_connections);
  port_ = acceptor_.local_endpoint().port();
  startAccept();
}

server::~server() = default;

void server::startAccept() {
  if (!acceptor_.is_open()) return;
  auto socket = std::make_shared<TcpSocket>(io_);
  acceptor_.async_accept(*socket, [this, socket](const boost::system::error_code& error) { onAccept(error, socket); });
}

void server::onAccept(const boost::system::error_code& error, SocketPtr socket) {
  if (!error) {
    startRead(socket);
    startAccept();
    return;
  }
  // The error is usually lasting (no file descriptor left): the connection
  // stays queued, and accepting again at once would fail again at once.
  acceptRetry_.callAfter(acceptRetryDelay_, [this] { startAccept(); });
}

void server::startRead(SocketPtr socket) {
  // Bytes asked for per read: any size delivers every byte in order. Not
  // make_shared, which would clear the room first.
  std::shared_ptr<ReadBuffer> buffer(new ReadBuffer);
  socket->async_read_some(asio::buffer(buffer->bytes),
                          [this, buffer, socket](const boost::system::error_code& error, std::size_t bytes) {
                            onRead(error, buffer, bytes, socket);
                          });
}

void server::onRead(const boost::system::error_code& error, std::shared_ptr<ReadBuffer> buffer, std::size_t bytes,
                    SocketPtr socket) {
  if (!error) onData(socket, std::make_shared<std::string>(buffer->bytes, bytes));
  if (socket->is_open() && (bytes > 0 || !error)) {
    startRead(socket);
  } else {
    onClose(socket);
  }
}

void server::onData(SocketPtr, std::shared_ptr<std::string>) {}

void server::onClose(SocketPtr) {}

}  // namespace Quorvel
