#include "server/ServerThread.h"

#include <boost/asio/io_context.hpp>

#include <iostream>
#include <optional>
#include <random>

#include "base/Codes.h"
#include "base/Exception.h"
#include "server/LaunchKey.h"

namespace Quorvel {

std::atomic<std::uint16_t> uiPort{0};

// Only the server thread draws ports.
std::uint16_t randomPort() {
  static std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> distribution(kLocalPortMin, kLocalPortMax);
  return static_cast<std::uint16_t>(distribution(generator));
}

std::string uiAddress(const std::string& makerBase, std::uint16_t port, bool portFirst) {
  std::string base = makerBase;
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::string portText = std::to_string(port);
  const std::string version = std::to_string(kUiVersion);
  const std::string fragment = "#token=" + launchKey();
  if (portFirst) return base + "/?port=" + portText + "&ver=" + version + fragment;
  return base + "/?ver=" + version + "&port=" + portText + fragment;
}

std::string localAddress(const std::string& host, const std::string& query) {
  return "http://" + host + ":" + std::to_string(uiPort.load()) + "/?" + query + "&token=" + launchKey();
}

namespace {

// Runs one server until it fails or `stop` is requested. Returns normally only
// when the server ran out of work.
void serveOnce(const ServerLoopOptions& options, std::uint16_t port, std::stop_token stop) {
  // A fresh I/O context per server: handlers left over from a failed server
  // must never run against the next one.
  boost::asio::io_context io;
  HttpServerOptions serverOptions;
  serverOptions.limits = options.limits;
  serverOptions.localHost = options.localHost;
  serverOptions.pageOrigin = options.pageOrigin;
  serverOptions.onListening = [&](std::uint16_t listening) {
    uiPort = listening;
    if (options.onListening) options.onListening(listening);
  };
  httpServer server(io, port, options.env, serverOptions);
  if (options.startGate && !options.startGate->wait(stop)) return;
  if (options.onServing) options.onServing(server.localPort());
  std::stop_callback onStop(stop, [&io] { io.stop(); });
  io.run();
}

}  // namespace

void runServerLoop(const ServerLoopOptions& options, std::stop_token stop) {
  while (!stop.stop_requested()) {
    try {
      uiPort = options.choosePort();
      while (uiPort < kLocalPortMax && !stop.stop_requested()) {
        try {
          serveOnce(options, uiPort, stop);
        } catch (const std::exception& e) {
          std::cout << e.what() << std::endl;
        }
        uiPort = options.choosePort();
      }
    } catch (Exception e) {
      std::cout << e.message() << std::endl;
    } catch (const std::exception& e) {
      std::cout << e.what() << std::endl;
    }
  }
}

}  // namespace Quorvel
