// The local HTTP server: one request per connection, parsed incrementally,
// handed to the action table, answered with "200 OK" and closed.
//
// Runs entirely on the thread that runs its I/O context (the server thread).
// The connection table and every request record belong to that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "server/Server.h"

namespace Quorvel {

// Bounds that keep a misbehaving client from growing the server without end.
struct HttpServerLimits {
  std::size_t maxHeaderBytes = 64 * 1024;        // header block, request line included
  std::size_t maxBodyBytes = 16 * 1024 * 1024;   // announced or received body
  std::chrono::milliseconds idleTimeout{30000};  // silence after which a connection is closed
};

struct HttpServerOptions {
  HttpServerLimits limits;
  // Called at the end of construction with the port listened on; the server
  // thread opens the web UI page here.
  std::function<void(std::uint16_t)> onListening;
};

class httpServer : public server {
 public:
  httpServer(boost::asio::io_context& io, std::uint16_t port, HttpServerOptions options = {});
  ~httpServer() override;

  std::size_t openConnections() const { return connections_.size(); }

 protected:
  void onAccept(const boost::system::error_code& error, SocketPtr socket) override;
  void onData(SocketPtr socket, std::shared_ptr<std::string> data) override;
  void onClose(SocketPtr socket) override;

  virtual void handleRequest(HttpRequest& request);
  virtual void sendResponse(HttpRequest& request);

 private:
  struct SocketHash {
    std::size_t operator()(const SocketPtr& socket) const {
      auto x = reinterpret_cast<std::uintptr_t>(socket.get());
      return x + (x >> 3);
    }
  };

  void parseRequest(HttpRequest& request);
  // The length of the header block at the start of `buffer`, up to and
  // including the empty line that ends it; npos while it is incomplete.
  static size_t findHeaderEnd(const std::string& buffer);
  // Parses and removes the first `blockEnd` bytes of the receive buffer.
  void parseHeaderBlock(HttpRequest& request, size_t blockEnd);
  // Fills the post parameters. When `_postData` cannot be read as GBK,
  // returns the message that says why.
  std::optional<std::string> parsePostParameters(HttpRequest& request);
  void armIdleTimer(HttpRequest& request);
  // Takes the socket by value: callers pass the one held by the entry it erases.
  void closeConnection(SocketPtr socket);

  HttpServerOptions options_;
  std::unordered_map<SocketPtr, HttpRequest, SocketHash> connections_;
};

}  // namespace Quorvel
