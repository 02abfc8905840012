#include "port/WindowSystem.h"

namespace Quorvel::port {

namespace {

// This system has no IM client and no windows of another program to drive:
// every lookup finds nothing and every message reaches no one, so the IM
// automation sees a client that is not running.
class NoWindows : public WindowSystem {
 public:
  // The IM client is a Windows program.
  bool imClientPossible() const override { return false; }
  Window findWindow(const std::string&, const std::string&) override { return 0; }
  void enumChildWindows(Window, const std::function<bool(Window)>&) override {}
  std::string className(Window) override { return std::string(); }
  std::string windowText(Window) override { return std::string(); }
  std::intptr_t sendMessage(Window, unsigned, std::uintptr_t, std::intptr_t) override { return 0; }
  std::intptr_t setText(Window, const std::string&) override { return 0; }
  std::intptr_t selectString(Window, int, const std::string&) override { return win::kListError; }
  bool showWindow(Window, int) override { return false; }
  bool setForegroundWindow(Window) override { return false; }
  void keyEvent(std::uint8_t, std::uint8_t, std::uint32_t) override {}
  unsigned mapVirtualKey(unsigned, unsigned) override { return 0; }
};

}  // namespace

std::shared_ptr<WindowSystem> WindowSystem::makeProcessWide() { return std::make_shared<NoWindows>(); }

}  // namespace Quorvel::port
