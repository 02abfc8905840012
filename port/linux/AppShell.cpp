#include "port/AppShell.h"

#include <signal.h>

#include <cstdio>

namespace Quorvel::port {

namespace {

sigset_t shellSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

// The signals are blocked in the main thread and so in every thread started
// after it, and the shell takes them synchronously with sigwait.
void prepareAppShell() {
  sigset_t set = shellSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void runAppShell(const std::string& tip, const AppShellEvents& events) {
  prepareAppShell();
  sigset_t set = shellSignals();

  std::printf("%s\n(Ctrl+C or SIGTERM closes the program; SIGUSR1 opens the web page again.)\n", tip.c_str());
  std::fflush(stdout);
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      if (events.reopenUi) events.reopenUi();
      continue;
    }
    return;
  }
}

}  // namespace Quorvel::port
