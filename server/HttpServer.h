// The local HTTP server: one request per connection, parsed incrementally,
// handed to the action table, answered and closed.
//
// Only the seller's own page may use it: a request must name this server in
// its Host header (127.0.0.1, localhost, [::1] or the local_host setting,
// with the port) and carry the launch key (server/LaunchKey.h) as the query
// parameter `token`. Any other request is answered "403 Forbidden" as soon as
// its header block has arrived; no action runs and its body is never kept.
// Every answer forbids content sniffing and referrers; HTML answers may be
// framed only by the page's own origin.
//
// Runs on the thread that runs its I/O context (the server thread), except
// the actions that wait on outside parties: those run on the server's
// outside worker (server/OutsideWorker.h) on a copy of their request, and
// their answer is written back on the server thread. The connection table,
// every request record in it and the sweep timer belong to the server
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/Env.h"
#include "server/ClockTimer.h"
#include "server/OutsideWorker.h"
#include "server/Server.h"

namespace Quorvel {

// Bounds that keep a misbehaving client from growing the server without end.
// One sweep of all connections, a few times per shortest time limit (at most
// once a second), closes those past a time limit.
struct HttpServerLimits {
  std::size_t maxHeaderBytes = 64 * 1024;             // header block, request line included
  std::size_t maxBodyBytes = 16 * 1024 * 1024;        // announced or received body
  std::size_t maxBufferedBytes = 64 * 1024 * 1024;    // request bytes of all connections together
  // Open at once. A newcomer beyond it takes the place of the oldest
  // connection that has not shown the launch key; when every connection has
  // shown it, the newcomer is closed at once.
  std::size_t maxConnections = 256;
  std::chrono::milliseconds idleTimeout{30000};       // silence after which a connection is closed
  std::chrono::milliseconds headDeadline{5000};       // from accept to the whole header block
  std::chrono::milliseconds requestDeadline{30000};   // from accept to the whole request, however it trickles
  std::size_t maxWaitingOutside = 16;                 // requests queued for the outside worker
};

struct HttpServerOptions {
  HttpServerLimits limits;
  // Called at the end of construction with the port listened on; the server
  // thread opens the web UI page here.
  std::function<void(std::uint16_t)> onListening;
  // The host of the local_host setting, accepted in the Host header besides
  // the loopback names; read at every request. Unset: the loopback names only.
  std::function<std::string()> localHost;
  // The origin (scheme://host[:port]) of the maker's service that serves the
  // page: the only one that may frame HTML answers and read a 403 answer (so
  // that an out-of-date page can tell the seller). Unset or empty: none.
  std::function<std::string()> pageOrigin;
};

// The body of the answer to a request without the launch key or from a
// foreign host, in Chinese written as character references so that it reads
// the same whatever charset the browser assumes:
// "<h2>禁止访问</h2><p>这个页面已过期，或不是本程序自己的页面。请从 Vendara 程序重新打开（程序启动时显示的地址，或托盘菜单）。</p>"
inline constexpr const char* kForbiddenBody =
    "<h2>&#31105;&#27490;&#35775;&#38382;</h2><p>&#36825;&#20010;&#39029;&#38754;&#24050;&#36807;"
    "&#26399;&#65292;&#25110;&#19981;&#26159;&#26412;&#31243;&#24207;&#33258;&#24049;&#30340;"
    "&#39029;&#38754;&#12290;&#35831;&#20174; Vendara &#31243;&#24207;&#37325;&#26032;&#25171;"
    "&#24320;&#65288;&#31243;&#24207;&#21551;&#21160;&#26102;&#26174;&#31034;&#30340;&#22320;"
    "&#22336;&#65292;&#25110;&#25176;&#30424;&#33756;&#21333;&#65289;&#12290;</p>";

class httpServer : public server {
 public:
  // Every time limit and pause runs on the clock of `env`, which must outlive
  // the server.
  httpServer(boost::asio::io_context& io, std::uint16_t port, const Env& env, HttpServerOptions options = {});
  ~httpServer() override;

  // Open connections, and those whose request has shown the launch key.
  std::size_t openConnections() const { return connections_.size(); }
  std::size_t keyedConnections() const;
  // Request bytes held by all connections together (see HttpServerLimits).
  // The fuzzer checks that this and openConnections come back to 0.
  std::size_t bufferedBytes() const { return bufferedBytes_; }

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
  // Whether the request names this server in its Host header and carries the
  // launch key.
  bool mayUse(const HttpRequest& request);
  // Answers "403 Forbidden" and stops reading the request: what else arrives
  // is dropped, and the client's close or the sweep ends the connection.
  void refuse(HttpRequest& request);
  // Adds the headers every answer carries.
  void addSecurityHeaders(HttpRequest& request);
  // The length of the header block at the start of `buffer`, up to and
  // including the empty line that ends it; npos while it is incomplete.
  static size_t findHeaderEnd(const std::string& buffer);
  // Parses and removes the first `blockEnd` bytes of the receive buffer.
  void parseHeaderBlock(HttpRequest& request, size_t blockEnd);
  // Fills the post parameters. When `_postData` cannot be read as GBK,
  // returns the message that says why.
  std::optional<std::string> parsePostParameters(HttpRequest& request);
  // Charges `request` for holding `bytes` request bytes; false, charging
  // nothing, when all connections together would hold more than allowed.
  bool charge(HttpRequest& request, std::size_t bytes);
  void startSweep();
  // Closes every connection past its idle time, its head deadline or its
  // request deadline.
  void sweep();
  // Closes the longest-open connection that has not shown the launch key;
  // false when every connection has shown it.
  bool evictStranger();
  // Takes the socket by value: callers pass the one held by the entry it erases.
  void closeConnection(SocketPtr socket);
  // Writes the answer and closes the connection.
  void answerAndClose(HttpRequest& request);
  // Hands the parsed `request` to the outside worker, whose answer
  // answerFromWorker writes; false, handing nothing, when the worker's queue
  // is full.
  bool passToWorker(HttpRequest& request);
  // On the server thread: writes the worker's answer, unless the client has
  // gone meanwhile.
  void answerFromWorker(const std::shared_ptr<HttpRequest>& done);

  Clock& clock_;
  HttpServerOptions options_;
  std::unordered_map<SocketPtr, HttpRequest, SocketHash> connections_;
  std::size_t bufferedBytes_ = 0;  // sum of the connections' `charged`
  ClockTimer sweepTimer_;
  // Last: stopped and joined before anything its jobs reach goes away.
  OutsideWorker worker_;
};

}  // namespace Quorvel
