// Opens a page in the user's web browser. The local server opens the web UI
// through it each time it starts listening, and the shell reopens the UI on the
// user's request. Tests replace it with a fake that records the address.
//
// Implementations must be callable from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "port/ProcessLauncher.h"

namespace Quorvel::port {

class BrowserLauncher {
 public:
  virtual ~BrowserLauncher() = default;
  // Starts a browser on `url` without waiting for it. Returns false when no
  // browser could be started (nothing else is reported).
  virtual bool open(const std::string& url) = 0;
};

// The name of the page the system's launcher writes in its folder.
inline constexpr const char* kLaunchPageName = "open-ui.html";

// The system's launcher: tries a Chrome-family browser, then Firefox, then the
// desktop's default handler, each started detached through `processes`. It
// opens only a page address on an http or https base address
// (isPageAddress, base/WebAddress.h); any other text gives false and starts
// nothing. The address itself never reaches a command line, which other
// users of the machine can read: it goes into a page (kLaunchPageName) that
// sends the browser on to it, owner-only in the owner-only `launchFolder`
// (made when missing), and the browser's only argument is that file's
// address, which no setting can turn into a command-line option.
std::shared_ptr<BrowserLauncher> systemBrowserLauncher(
    std::shared_ptr<ProcessLauncher> processes = systemProcessLauncher(),
    std::filesystem::path launchFolder = "launch");

}  // namespace Quorvel::port
