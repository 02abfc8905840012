#include "port/BrowserLauncher.h"

#include "port/ProcessLauncher.h"

namespace Quorvel::port {

namespace {

class SystemBrowserLauncher : public BrowserLauncher {
 public:
  bool open(const std::string& url) override {
    auto launcher = systemProcessLauncher();
    for (const char* browser : {"google-chrome", "chromium", "chromium-browser", "firefox", "xdg-open"}) {
      if (launcher->start({.program = browser, .args = {url}})) return true;
    }
    return false;
  }
};

}  // namespace

std::shared_ptr<BrowserLauncher> systemBrowserLauncher() { return std::make_shared<SystemBrowserLauncher>(); }

}  // namespace Quorvel::port
