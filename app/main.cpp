// vendara: the main program. Runs the local HTTP server on the server thread
// and lives on the console until the user closes it.
#include <cstdio>
#include <thread>

#include "port/AppShell.h"
#include "port/BrowserLauncher.h"
#include "server/ServerThread.h"

namespace {

constexpr const char* kMakerBase = "http://127.0.0.1:18080";

void showUi(std::uint16_t port, Quorvel::port::BrowserLauncher& browser) {
  std::printf("Web UI: %s\n", Quorvel::uiAddress(kMakerBase, port).c_str());
  std::fflush(stdout);
  Quorvel::openUi(port, kMakerBase, browser);
}

}  // namespace

int main() {
  using namespace Quorvel;
  port::prepareAppShell();
  auto browser = port::systemBrowserLauncher();

  ServerLoopOptions options;
  options.onListening = [browser](std::uint16_t port) {
    std::printf("Local server listening on 127.0.0.1:%u\n", static_cast<unsigned>(port));
    showUi(port, *browser);
  };
  std::jthread serverThread([options](std::stop_token stop) { runServerLoop(options, stop); });

  port::AppShellEvents events;
  events.reopenUi = [browser] { showUi(uiPort.load(), *browser); };
  port::runAppShell("Vendara 2012", events);
  return 0;
}
