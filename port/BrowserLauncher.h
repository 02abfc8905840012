// Opens a page in the user's web browser. The local server opens the web UI
// through it each time it starts listening, and the shell reopens the UI on the
// user's request. Tests replace it with a fake that records the address.
//
// Implementations must be callable from any thread.
#pragma once

#include <memory>
#include <string>

namespace Quorvel::port {

class BrowserLauncher {
 public:
  virtual ~BrowserLauncher() = default;
  // Starts a browser on `url` without waiting for it. Returns false when no
  // browser could be started (nothing else is reported).
  virtual bool open(const std::string& url) = 0;
};

// The system's launcher: tries a Chrome-family browser, then Firefox, then the
// desktop's default handler, each started detached.
std::shared_ptr<BrowserLauncher> systemBrowserLauncher();

}  // namespace Quorvel::port
