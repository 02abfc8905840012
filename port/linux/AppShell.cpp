#include "port/AppShell.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "port/linux/TrayModule.h"

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

// No desktop: the console is the shell, and the signals are its menu.
void runConsole(const AppShellEvents& events) {
  sigset_t set = shellSignals();
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

// On a desktop the signals keep their meaning: a thread of their own takes
// them and hands them to the UI thread's loop. It ends on a SIGTERM sent to
// it alone once the loop is over.
void runTray(const TrayModule& module, const std::string& tip, const AppShellEvents& events) {
  TrayIcon* tray = module.create(tip, events);
  std::atomic<bool> over{false};
  std::thread signals([&module, tray, &over] {
    sigset_t set = shellSignals();
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (over.load()) return;
      if (sig == SIGUSR1) {
        module.requestReopen(tray);
      } else {
        module.requestClose();
      }
    }
  });
  module.run(tray);
  over.store(true);
  pthread_kill(signals.native_handle(), SIGTERM);
  signals.join();
  module.destroy(tray);
}

bool setInEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The tray's module, or null with the reason the desktop cannot show it. The
// module (and the desktop's libraries with it) is loaded only when there is
// a display to show it on.
const TrayModule* openDesktop(std::string* why) {
  if (!setInEnvironment("DISPLAY") && !setInEnvironment("WAYLAND_DISPLAY")) {
    *why = "没有图形桌面（DISPLAY 和 WAYLAND_DISPLAY 均未设置）";
    return nullptr;
  }
  const TrayModule* module = loadTrayModule(why);
  if (module == nullptr) return nullptr;
  *why = module->openDesktop();
  return why->empty() ? module : nullptr;
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
  std::string noDesktop;
  if (const TrayModule* module = openDesktop(&noDesktop)) {
    std::printf("%s：托盘图标已就绪（菜单“打开”重新打开网页，“关闭”退出程序）。\n", tip.c_str());
    std::fflush(stdout);
    runTray(*module, tip, events);
    return;
  }
  std::printf("%s：%s，程序在控制台运行（Ctrl+C 或 SIGTERM 关闭程序，SIGUSR1 重新打开网页）。\n", tip.c_str(),
              noDesktop.c_str());
  std::fflush(stdout);
  runConsole(events);
}

}  // namespace Quorvel::port
