// An httpServer on a free loopback port, run on its own thread, and a tiny
// blocking client that sends raw bytes and reads until the server closes.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "server/HttpServer.h"

namespace Quorvel::testing {

class TestServer {
 public:
  explicit TestServer(HttpServerLimits limits = {}) {
    std::promise<std::uint16_t> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, limits, &ready] {
      HttpServerOptions options;
      options.limits = limits;
      server_ = std::make_unique<httpServer>(io_, 0, options);
      ready.set_value(server_->localPort());
      io_.run();
      server_.reset();
    });
    port_ = started.get();
  }
  ~TestServer() {
    io_.stop();
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  boost::asio::io_context io_;
  std::unique_ptr<httpServer> server_;
  std::thread thread_;
  std::uint16_t port_ = 0;
};

class RawClient {
 public:
  explicit RawClient(std::uint16_t port) : socket_(io_) {
    socket_.connect({boost::asio::ip::make_address_v4("127.0.0.1"), port});
  }
  void send(const std::string& bytes) { boost::asio::write(socket_, boost::asio::buffer(bytes)); }
  // Everything the server sends until it closes the connection; nothing when
  // it has not closed within `limit`.
  std::optional<std::string> readAllWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string received;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd ready{socket_.native_handle(), POLLIN, 0};
      int count = ::poll(&ready, 1, static_cast<int>(left.count()));
      if (count < 0 && errno == EINTR) continue;
      if (count == 0) return std::nullopt;
      boost::system::error_code error;
      char chunk[4096];
      std::size_t n = socket_.read_some(boost::asio::buffer(chunk), error);
      received.append(chunk, n);
      if (error) return received;
    }
  }
  // Everything the server sends until it closes the connection.
  std::string readAll() {
    std::string received;
    boost::system::error_code error;
    char chunk[4096];
    for (;;) {
      std::size_t n = socket_.read_some(boost::asio::buffer(chunk), error);
      received.append(chunk, n);
      if (error) break;
    }
    return received;
  }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_;
};

// One whole request and the whole answer.
inline std::string exchange(std::uint16_t port, const std::string& request) {
  RawClient client(port);
  client.send(request);
  return client.readAll();
}

inline std::string bodyOf(const std::string& response) {
  size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

inline std::string headerOf(const std::string& response, const std::string& name) {
  size_t start = response.find("\r\n" + name + ": ");
  if (start == std::string::npos) return "<none>";
  start += name.size() + 4;
  return response.substr(start, response.find("\r\n", start) - start);
}

}  // namespace Quorvel::testing
