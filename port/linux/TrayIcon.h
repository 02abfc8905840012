// The program's tray icon on a Linux desktop: a StatusNotifierItem (through
// the ayatana app indicator library) whose title is the program's name and
// whose menu holds "打开" (reopens the web UI) and "关闭" (ends the program).
// The menu's secondary activation (a middle click on most panels) opens the
// web UI as well.
//
// Built into the module vendara-tray.so (port/linux/TrayModule.h), never into
// the program. Only the app shell (port/linux/AppShell.cpp) uses it, through
// the module's table, on the main thread,
// which becomes the UI thread: GTK is initialised, run and left on that
// thread alone. Other threads reach it only through requestClose and
// requestReopen, which hand the work to the UI thread's main loop.
#pragma once

#include <string>

#include "port/AppShell.h"

namespace Quorvel::port {

class TrayIcon {
 public:
  // Why the desktop session cannot show a tray icon (no session bus, a
  // display that does not open), in Chinese; empty when it can. The shell
  // has checked that a display is named before it loads the module. Opens
  // the display on success, so call it on the UI thread, once.
  static std::string openDesktop();

  TrayIcon(const std::string& tip, const AppShellEvents& events);
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Runs the GTK main loop until "关闭" is chosen or requestClose is called.
  void run();

  // Any thread (a signal's): ends run at the loop's next turn.
  static void requestClose();
  // Any thread: calls the events' reopenUi on the UI thread.
  void requestReopen();

 private:
  struct Parts;
  Parts* parts_;  // UI thread only
};

}  // namespace Quorvel::port
