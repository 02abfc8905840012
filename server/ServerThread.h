// The server thread's serve loop: picks a random port, runs an httpServer on
// it, and starts over on a new port whenever the server fails (a port that
// cannot be bound, or an exception that escaped an action). Each new server
// opens the web UI page on its port.
//
// runServerLoop runs on the thread that calls it (the server thread) until
// `stop` is requested. uiPort may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "server/HttpServer.h"

namespace Quorvel {

// The port the current server listens on.
extern std::atomic<std::uint16_t> uiPort;

// A port in [10000, 60000].
std::uint16_t randomPort();

// The web UI page of the maker's service for a local server on `port`:
// `makerBase` + "/?ver=1105&port=" + port (with portFirst: "/?port=…&ver=1105").
std::string uiAddress(const std::string& makerBase, std::uint16_t port, bool portFirst = false);

struct ServerLoopOptions {
  std::function<std::uint16_t()> choosePort = randomPort;
  HttpServerLimits limits;
  std::function<void(std::uint16_t)> onListening;  // opens the UI page
};

void runServerLoop(const ServerLoopOptions& options, std::stop_token stop);

}  // namespace Quorvel
