// The module's side of port/linux/TrayModule.h: built into vendara-tray.so
// with the tray icon, never into the program.
#include "port/linux/TrayModule.h"

#include "port/linux/TrayIcon.h"

namespace Quorvel::port {
namespace {

TrayIcon* create(const std::string& tip, const AppShellEvents& events) { return new TrayIcon(tip, events); }
void destroy(TrayIcon* tray) { delete tray; }
void run(TrayIcon* tray) { tray->run(); }
void requestReopen(TrayIcon* tray) { tray->requestReopen(); }

constexpr TrayModule kTable{&TrayIcon::openDesktop, &create, &destroy, &run, &TrayIcon::requestClose, &requestReopen};

}  // namespace
}  // namespace Quorvel::port

extern "C" __attribute__((visibility("default"))) const Quorvel::port::TrayModule* quorvelTrayModule() {
  return &Quorvel::port::kTable;
}
