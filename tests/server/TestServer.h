// An httpServer on a free loopback port, run on its own thread, and a tiny
// blocking client that sends raw bytes and reads until the server closes.
// The server runs on the clock of the Env it is given (a test's FakeClock
// moves its time limits); waits for the server's state wake on the server's
// own events (accept, data, close), never after a fixed time.
//
// Requests made with `exchange` are sent the way the seller's page sends them:
// with the launch key (`token`) and the Host header the browser gives
// (withAccess). `exchangeAsIs` sends the bytes exactly as given.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/Env.h"
#include "server/HttpServer.h"
#include "server/LaunchKey.h"
#include "tests/support/FakeClock.h"

namespace Quorvel::testing {

// Counts the server's events, so that a test can wait for the next one.
class ObservedServer : public httpServer {
 public:
  ObservedServer(boost::asio::io_context& io, const Env& env, HttpServerOptions options)
      : httpServer(io, 0, env, std::move(options)) {}

  std::uint64_t events() {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
  }
  // Waits until an event comes after the `seen`-th; false after kPatience.
  bool waitEventAfter(std::uint64_t seen) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, kPatience, [&] { return events_ > seen; });
  }

 protected:
  void onAccept(const boost::system::error_code& error, SocketPtr socket) override {
    httpServer::onAccept(error, std::move(socket));
    happened();
  }
  void onData(SocketPtr socket, std::shared_ptr<std::string> data) override {
    httpServer::onData(std::move(socket), std::move(data));
    happened();
  }
  void onClose(SocketPtr socket) override {
    httpServer::onClose(std::move(socket));
    happened();
  }

 private:
  void happened() {
    std::lock_guard<std::mutex> hold(mutex_);
    ++events_;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t events_ = 0;  // guarded by mutex_
};

class TestServer {
 public:
  explicit TestServer(HttpServerLimits limits = {}, Env env = {}) : TestServer(optionsWith(limits), std::move(env)) {}
  explicit TestServer(HttpServerOptions options, Env env = {}) : env_(std::move(env)) {
    std::promise<std::uint16_t> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, options, &ready] {
      server_ = std::make_unique<ObservedServer>(io_, env_, options);
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

  // Runs `look` on the server's thread and returns what it gives.
  template <typename Look>
  auto onServer(Look look) {
    std::packaged_task<decltype(look(std::declval<httpServer&>()))()> task([this, &look] { return look(*server_); });
    auto result = task.get_future();
    boost::asio::post(io_, [&task] { task(); });
    return result.get();
  }
  // Waits until `holds` is true of the server, looking again after each of
  // its events; false when it is not after kPatience without one.
  template <typename Holds>
  bool waitUntil(Holds holds) {
    for (;;) {
      const std::uint64_t seen = server_->events();
      if (onServer([&holds](httpServer& server) { return holds(server); })) return true;
      if (!server_->waitEventAfter(seen)) return false;
    }
  }
  // Waits until the server holds `count` connections that have shown the
  // launch key.
  bool waitForKeyed(std::size_t count) {
    return waitUntil([count](httpServer& server) { return server.keyedConnections() == count; });
  }
  // Returns once the server thread has done everything handed to it so far
  // (a timer's check after a step of the clock, say).
  void settle() {
    onServer([](httpServer&) { return true; });
  }

  static HttpServerOptions optionsWith(HttpServerLimits limits) {
    HttpServerOptions options;
    options.limits = limits;
    return options;
  }

 private:
  Env env_;
  boost::asio::io_context io_;
  std::unique_ptr<ObservedServer> server_;
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

// The Host header a browser sends to the server on `port`.
inline std::string hostHeader(std::uint16_t port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

// `target` with the current launch key added as `token`.
inline std::string keyed(const std::string& target) {
  return target + (target.find('?') == std::string::npos ? "?" : "&") + "token=" + launchKey();
}

// `request` as the seller's page sends it: the launch key added to the
// target of its request line, and its Host headers replaced by ours. A
// request without a request line is left as it is.
inline std::string withAccess(std::uint16_t port, const std::string& request) {
  const size_t lineEnd = request.find("\r\n");
  if (lineEnd == 0 || lineEnd == std::string::npos) return request;
  std::string line = request.substr(0, lineEnd);
  const size_t targetStart = line.find(' ');
  if (targetStart != std::string::npos) {
    size_t targetEnd = line.find(' ', targetStart + 1);
    if (targetEnd == std::string::npos) targetEnd = line.size();
    const std::string target = line.substr(targetStart + 1, targetEnd - targetStart - 1);
    line.replace(targetStart + 1, target.size(), keyed(target));
  }
  std::string rest;
  size_t position = lineEnd + 2;
  for (;;) {
    size_t end = request.find("\r\n", position);
    if (end == std::string::npos || end == position) {
      rest += request.substr(position);
      break;
    }
    std::string header = request.substr(position, end - position);
    std::string name = header.substr(0, header.find(':'));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "host") rest += header + "\r\n";
    position = end + 2;
  }
  return line + "\r\n" + hostHeader(port) + rest;
}

// One whole request, sent exactly as given, and the whole answer.
inline std::string exchangeAsIs(std::uint16_t port, const std::string& request) {
  RawClient client(port);
  client.send(request);
  return client.readAll();
}

// One whole request as the seller's page sends it (withAccess), and the
// whole answer.
inline std::string exchange(std::uint16_t port, const std::string& request) {
  return exchangeAsIs(port, withAccess(port, request));
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
