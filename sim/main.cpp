// market-sim: serves the simulated marketplace seller site on 127.0.0.1 until
// SIGINT or SIGTERM. The main thread only parses the command line, starts the
// simulator and waits for the signal.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/Charset.h"
#include "base/Exception.h"
#include "sim/MarketSim.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: market-sim [--port PORT] [--open] [--account NAME] [--password WORD] [--empty]\n"
               "  --port PORT      listen on 127.0.0.1:PORT (default 18090; 0 picks a free port)\n"
               "  --open           treat every request as logged in\n"
               "  --account NAME   the seller's account name (UTF-8)\n"
               "  --password WORD  the seller's password\n"
               "  --empty          start without the demo shop\n");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace Quorvel;
  SimOptions options;
  int port = 18090;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || value < 0 || value > 65535) {
        usage();
        return 2;
      }
      port = static_cast<int>(value);
    } else if (arg == "--open") {
      options.open = true;
    } else if (arg == "--empty") {
      options.demoShop = false;
    } else if ((arg == "--account" || arg == "--password") && hasValue) {
      try {
        (arg == "--account" ? options.account : options.password) = utf8ToGbk(argv[++i]);
      } catch (Exception e) {
        std::fprintf(stderr, "market-sim: %s is not valid UTF-8 text for GBK\n", arg.c_str());
        return 2;
      }
    } else {
      usage();
      return 2;
    }
  }

  // Block the stop signals before any thread starts, so only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  MarketSim sim(options);
  try {
    sim.start(port);
  } catch (Exception e) {
    std::fprintf(stderr, "market-sim: %s\n", e.message().c_str());
    return 1;
  }
  std::printf("market-sim listening on %s\n", sim.baseUrl().c_str());
  std::printf("port: %d\n", sim.port());
  std::printf("account: %s\n", gbkToUtf8(sim.shop().account()).c_str());
  std::printf("password: %s\n", gbkToUtf8(sim.shop().password()).c_str());
  std::printf("logged-in switch (--open): %s\n", options.open ? "on" : "off");
  std::printf("control: %s/__sim/state\n", sim.baseUrl().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  sim.stop();
  std::printf("market-sim stopped\n");
  return 0;
}
