// The tray icon's door: the one symbol of the module vendara-tray.so, which
// holds the tray icon (port/linux/TrayIcon.h) and alone links the desktop's
// libraries (GTK, the app indicator and what they pull in: about sixty
// shared libraries). The program loads the module only on a desktop, so a
// start without one, and the port it takes at once, never waits for them.
//
// The module is built with the program and lies beside it (in a build and in
// the package alike); loadTrayModule looks nowhere else. The table's
// functions keep TrayIcon's thread rules: the UI thread calls all of them,
// except requestClose and requestReopen, which any thread may call.
#pragma once

#include <string>

#include "port/AppShell.h"

namespace Quorvel::port {

class TrayIcon;

struct TrayModule {
  std::string (*openDesktop)();  // TrayIcon::openDesktop
  TrayIcon* (*create)(const std::string& tip, const AppShellEvents& events);
  void (*destroy)(TrayIcon* tray);
  void (*run)(TrayIcon* tray);
  void (*requestClose)();
  void (*requestReopen)(TrayIcon* tray);
};

// The module's file name, and the name of its one symbol: a function without
// arguments that returns the table.
inline constexpr const char* kTrayModuleFile = "vendara-tray.so";
inline constexpr const char* kTrayModuleSymbol = "quorvelTrayModule";

// Loads the module from the program's own folder, once; the table, or null
// with the reason in `why` (in Chinese). UI thread.
const TrayModule* loadTrayModule(std::string* why);

}  // namespace Quorvel::port
