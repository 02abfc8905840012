// The server thread's serve loop: picks a random port, runs an httpServer on
// it, and starts over on a new port whenever the server fails (a port that
// cannot be bound, or a failure of the server itself; an action's failure is
// answered on the same port, server/ActionTable.h). Each new server
// tells its port (onListening), waits for the start gate if there is one,
// and then opens the web UI page on its port (onServing).
//
// runServerLoop runs on the thread that calls it (the server thread) until
// `stop` is requested. uiPort may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "server/HttpServer.h"
#include "server/StartGate.h"

namespace Quorvel {

// The port the current server listens on.
extern std::atomic<std::uint16_t> uiPort;

// A port in [10000, 60000].
std::uint16_t randomPort();

// The web UI page of the maker's service for a local server on `port`:
// `makerBase` + "/?ver=1105&port=" + port (with portFirst: "/?port=…&ver=1105"),
// then "#token=" and the launch key. The key travels in the fragment, which
// the browser keeps to the page and never sends to the maker's service.
std::string uiAddress(const std::string& makerBase, std::uint16_t port, bool portFirst = false);

// An address of the running local server for the browser: "http://" + `host`
// + ":" + uiPort + "/?" + `query` + "&token=" + the launch key. Pages the
// server itself serves (the marketplace login page, its forms and scripts)
// point back at it this way; `host` is the local_host setting.
std::string localAddress(const std::string& host, const std::string& query);

struct ServerLoopOptions {
  Env env;  // the program's: every server's clock
  std::function<std::uint16_t()> choosePort = randomPort;
  HttpServerLimits limits;
  std::function<void(std::uint16_t)> onListening;  // the port is taken: says so
  std::function<void(std::uint16_t)> onServing;    // requests are answered: opens the UI page
  // When set, a server listens at once but answers nothing until the gate
  // is open (the program's start-up work runs meanwhile).
  std::shared_ptr<StartGate> startGate;
  std::function<std::string()> localHost;          // see HttpServerOptions
  std::function<std::string()> pageOrigin;         // see HttpServerOptions
};

void runServerLoop(const ServerLoopOptions& options, std::stop_token stop);

}  // namespace Quorvel
