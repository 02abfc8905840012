#include "port/BrowserLauncher.h"

#include <cctype>

#include "base/Html.h"
#include "base/WebAddress.h"
#include "port/PrivateFile.h"
#include "port/ProgramNames.h"

namespace Quorvel::port {

namespace {

namespace fs = std::filesystem;

// "file://" and the absolute path with forward slashes ("file:///C:/..." for
// a path with a drive), each byte outside letters, digits, "/", ":" and
// - . _ ~ percent-encoded: one argument that never reads as an option.
std::string fileAddress(const fs::path& file) {
  const std::string path = fs::absolute(file).lexically_normal().generic_string();
  std::string address = path.rfind('/', 0) == 0 ? "file://" : "file:///";
  for (char c : path) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '/' || c == ':' || c == '-' || c == '.' || c == '_' || c == '~') {
      address += c;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      address += '%';
      address += kHex[u >> 4];
      address += kHex[u & 15];
    }
  }
  return address;
}

// The same on every system; only the browsers' names differ
// (kBrowserPrograms, port/<system>/ProgramNames.cpp).
class SystemBrowserLauncher : public BrowserLauncher {
 public:
  SystemBrowserLauncher(std::shared_ptr<ProcessLauncher> processes, fs::path folder)
      : processes_(std::move(processes)), folder_(std::move(folder)) {}

  bool open(const std::string& url) override {
    if (!isPageAddress(url)) return false;
    // The address holds the launch key, and a command line is readable by
    // every user of the machine: the browser is sent to a page in a file
    // only the seller can read, which sends it on to the address.
    const fs::path page = folder_ / kLaunchPageName;
    try {
      makePrivateFolder(folder_);
      writePrivateFile(page, redirectPage(url));
    } catch (const fs::filesystem_error&) {
      return false;
    }
    const std::string argument = fileAddress(page);
    for (const char* browser : kBrowserPrograms) {
      if (processes_->start({.program = browser, .args = {argument}})) return true;
    }
    return false;
  }

 private:
  std::shared_ptr<ProcessLauncher> processes_;
  const fs::path folder_;
};

}  // namespace

std::shared_ptr<BrowserLauncher> systemBrowserLauncher(std::shared_ptr<ProcessLauncher> processes,
                                                       std::filesystem::path launchFolder) {
  return std::make_shared<SystemBrowserLauncher>(std::move(processes), std::move(launchFolder));
}

}  // namespace Quorvel::port
