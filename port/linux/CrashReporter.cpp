#include "port/CrashReporter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace Quorvel::port {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
char gReportPath[4096];
char gHeader[512];
struct sigaction gPrevious[sizeof(kSignals) / sizeof(kSignals[0])];
bool gInstalled = false;

// Only async-signal-safe calls: write the header and a backtrace, then let the
// default action end the process.
void onFatalSignal(int sig) {
  int fd = ::open(gReportPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    ssize_t ignored = ::write(fd, gHeader, std::strlen(gHeader));
    char line[64];
    int n = std::snprintf(line, sizeof line, "signal %d\n", sig);
    ignored = ::write(fd, line, n);
    (void)ignored;
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

int crashReporterInstall(const CrashReportInfo& info) {
  std::snprintf(gReportPath, sizeof gReportPath, "%s/crash-%ld.txt", info.reportFolder.c_str(),
                static_cast<long>(std::time(nullptr)));
  std::snprintf(gHeader, sizeof gHeader, "%s crashed. Report: %s Privacy: %s\n", info.appName.c_str(),
                info.uploadUrl.c_str(), info.privacyUrl.c_str());

  static char* altStack = static_cast<char*>(std::malloc(SIGSTKSZ * 4));
  stack_t stack{};
  stack.ss_sp = altStack;
  stack.ss_size = SIGSTKSZ * 4;
  if (altStack == nullptr || sigaltstack(&stack, nullptr) != 0) return 1;

  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) {
    if (sigaction(kSignals[i], &action, &gPrevious[i]) != 0) return 1;
  }
  gInstalled = true;
  return 0;
}

void crashReporterUninstall() {
  if (!gInstalled) return;
  for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
  gInstalled = false;
}

}  // namespace Quorvel::port
