// The program's presence on the desktop: where a tray icon would be, a console
// shell that announces the program, lets the user reopen the web UI and close
// the program. Runs on the main thread and returns when the user closes.
#pragma once

#include <functional>
#include <string>

namespace Quorvel::port {

struct AppShellEvents {
  std::function<void()> reopenUi;  // the tray icon's double click
};

// Call first thing in main, before any thread starts, so that the shell's
// signals reach only the shell.
void prepareAppShell();

// Prints `tip` and blocks until the user asks to close (the tray menu's "关闭";
// on a console: SIGINT or SIGTERM). SIGUSR1 reopens the web UI.
void runAppShell(const std::string& tip, const AppShellEvents& events);

}  // namespace Quorvel::port
