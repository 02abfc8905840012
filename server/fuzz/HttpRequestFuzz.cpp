// libFuzzer entry: the local server's request parser fed arbitrary bytes in
// arbitrary pieces, on up to three connections at once.
//
// The input is request text; "\r\n--next--\r\n" separates the requests of
// the connections, and "{port}" and "{key}" stand for the server's port and
// launch key (so that a seed can pass the Host and key checks). Its last four
// bytes choose where the text is cut and in which order the pieces of the
// connections arrive. The connections are socket pairs handed to the server
// as if accepted; every answer must be an HTTP status line and headers, a
// single connection's answer must be the one its text gets when sent whole,
// and once every connection is closed the server must hold no connection and
// no request bytes.
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "server/ActionTable.h"
#include "server/HttpServer.h"
#include "server/LaunchKey.h"

namespace {

using namespace Quorvel;

constexpr const char kKey[] = "0123456789abcdef0123456789abcdef";
constexpr size_t kMaxHeaderBytes = 1024;

class FuzzServer : public httpServer {
 public:
  using httpServer::httpServer;

  // Hands `socket` to the server as a new connection.
  void connect(SocketPtr socket) { onAccept({}, std::move(socket)); }
  void feed(const SocketPtr& socket, std::string piece) { onData(socket, std::make_shared<std::string>(std::move(piece))); }
  void hangUp(const SocketPtr& socket) { onClose(socket); }
  // Drops the accepts that connect() leaves pending (no client ever comes).
  void dropPendingAccepts() { acceptor_.cancel(); }

 protected:
  void onAccept(const boost::system::error_code& error, SocketPtr socket) override {
    if (error) return;  // a dropped accept: nothing to retry
    httpServer::onAccept(error, std::move(socket));
  }
  // The harness hands every byte over itself.
  void startRead(SocketPtr) override {}
};

struct Harness {
  boost::asio::io_context io;
  Env env;
  std::unique_ptr<FuzzServer> server;
  std::string port;

  Harness() {
    installProcessWide(std::make_shared<LaunchKey>(kKey));
    // Echoes what the parser made of the request, through the JSONP writer.
    registerHandler("echo", [](const HttpRequest& request, Reply& out) {
      Json::Value reply(Json::objectValue);
      reply["SUCCESS"] = 1;
      for (const auto& [key, value] : request.query) reply["QUERY"][key] = value;
      for (const auto& [key, value] : request.post) reply["POST"][key] = value;
      out.writeJsonp(reply);
    });
    HttpServerOptions options;
    // Small bounds, so that short inputs reach them.
    options.limits.maxHeaderBytes = kMaxHeaderBytes;
    options.limits.maxBodyBytes = 2048;
    options.limits.maxBufferedBytes = 3072;
    options.limits.maxConnections = 2;
    options.localHost = [] { return std::string("vendara.local"); };
    options.pageOrigin = [] { return std::string("http://127.0.0.1:18080"); };
    server = std::make_unique<FuzzServer>(io, 0, env, options);
    port = std::to_string(server->localPort());
  }
};

std::string substituted(std::string text, const std::string& port) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"{port}", port}, {"{key}", kKey}}) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  return text;
}

Harness& harness() {
  static Harness made;
  return made;
}

struct Connection {
  SocketPtr socket;
  int peer = -1;
  std::string text;
  size_t sent = 0;
};

// Everything the server wrote to the connection so far.
std::string drain(int fd) {
  std::string received;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) return received;
    received.append(chunk, static_cast<size_t>(n));
  }
}

// Serves the connections of `all`, cut and interleaved as `next` says (a
// value past every length sends each text whole); every connection's answer.
template <class Next>
std::vector<std::string> serve(const std::string& all, Next next) {
  std::vector<Connection> connections;
  const std::string separator = "\r\n--next--\r\n";
  for (size_t start = 0; connections.size() < 3;) {
    size_t end = all.find(separator, start);
    Connection connection;
    connection.text = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    connections.push_back(std::move(connection));
    if (end == std::string::npos) break;
    start = end + separator.size();
  }
  for (Connection& connection : connections) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) __builtin_trap();
    connection.socket = std::make_shared<TcpSocket>(harness().io);
    connection.socket->assign(boost::asio::ip::tcp::v4(), fds[0]);
    connection.peer = fds[1];
    harness().server->connect(connection.socket);
  }

  try {
    for (;;) {
      std::vector<Connection*> waiting;
      for (Connection& connection : connections) {
        // A connection the server has closed reads nothing more.
        if (connection.sent < connection.text.size() && connection.socket->is_open()) waiting.push_back(&connection);
      }
      if (waiting.empty()) break;
      Connection& connection = *waiting[next() % waiting.size()];
      const size_t left = connection.text.size() - connection.sent;
      const uint32_t limit = next();
      const size_t piece = limit == 0xFFFFFFFFu ? left : 1 + next() % std::min<size_t>(left, limit % 4 == 0 ? 4 : 600);
      harness().server->feed(connection.socket, connection.text.substr(connection.sent, piece));
      connection.sent += piece;
    }
  } catch (Exception) {
    // An action's failure escapes to the serve loop, which starts a new
    // server; the echo action raises none.
    __builtin_trap();
  }

  std::vector<std::string> answers;
  for (Connection& connection : connections) {
    answers.push_back(drain(connection.peer));
    const std::string& answer = answers.back();
    if (!answer.empty() && answer.compare(0, 9, "HTTP/1.1 ") != 0) __builtin_trap();
    if (!answer.empty() && answer.find("\r\n\r\n") == std::string::npos) __builtin_trap();
    harness().server->hangUp(connection.socket);
    ::close(connection.peer);
  }
  harness().server->dropPendingAccepts();
  harness().io.poll();
  harness().io.restart();
  if (harness().server->openConnections() != 0 || harness().server->bufferedBytes() != 0) __builtin_trap();
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t random = 0;
  for (size_t i = size - 4; i < size; ++i) random = random * 256 + data[i];
  auto next = [&random] {
    random = random * 1103515245u + 12345u;
    return random >> 16;
  };
  const std::string all = substituted(std::string(reinterpret_cast<const char*>(data), size - 4), harness().port);

  // One connection's text: what the server answers does not depend on how
  // the bytes are cut, so the text sent whole must get the same answer.
  // (Within the header bound: a whole text larger than that could pass the
  // budget in one read, which no cut of it does.)
  const bool single = all.find("\r\n--next--\r\n") == std::string::npos && all.size() <= kMaxHeaderBytes;
  const std::vector<std::string> cut = serve(all, next);
  if (single) {
    const std::vector<std::string> whole = serve(all, [] { return 0xFFFFFFFFu; });
    if (cut != whole) __builtin_trap();
  }
  return 0;
}
