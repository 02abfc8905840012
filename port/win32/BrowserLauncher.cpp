#include "port/BrowserLauncher.h"

#include "base/WebAddress.h"

namespace Quorvel::port {

namespace {

class SystemBrowserLauncher : public BrowserLauncher {
 public:
  explicit SystemBrowserLauncher(std::shared_ptr<ProcessLauncher> processes) : processes_(std::move(processes)) {}

  bool open(const std::string& url) override {
    // The address is the browser's only argument: it starts with "http" and
    // holds no space or quote, so it never reads as an option.
    if (!isPageAddress(url)) return false;
    for (const char* browser : {"chrome.exe", "firefox.exe", "IEXPLORE.exe"}) {
      if (processes_->start({.program = browser, .args = {url}})) return true;
    }
    return false;
  }

 private:
  std::shared_ptr<ProcessLauncher> processes_;
};

}  // namespace

std::shared_ptr<BrowserLauncher> systemBrowserLauncher(std::shared_ptr<ProcessLauncher> processes) {
  return std::make_shared<SystemBrowserLauncher>(std::move(processes));
}

}  // namespace Quorvel::port
