// Our stand-in for the maker's web service: serves the web UI page and its
// files, the login-page script and close page (webui/vendara2012/1100/), the
// jQuery files the rewritten login page loads, and the two messaging
// endpoints ("m=Api&a=web_send", "m=Api&a=email_send"), which record the
// messages they accept. Tests start it in-process on a free port; the
// maker-service program runs it for demos.
//
// The jQuery files come from the npm packages of service/vendor (installed
// with `npm ci` there) and are served under the names the program asks for
// (kVendorFiles); the theme's pictures under /image/css/flick/images/. The
// page's own libraries come from the npm packages of the web folder
// (webui/package.json, `npm ci` there) under /lib/ (kUiLibFiles), a path that
// stays when a package moves its files.
//
// It serves only regular files whose real path lies inside the web folder
// or the package folder, takes request bodies of at most kMaxBodyBytes and
// keeps the last kMaxKeptMessages messages.
//
// start/stop from one thread; the recorded messages may be read from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Mutex.h"

namespace httplib {
class Server;
}

namespace Quorvel {

class MakerService {
 public:
  // One form posted to a messaging endpoint, values as received (UTF-8).
  struct Message {
    std::string action;  // "web_send" or "email_send"
    std::string msg, to, from, orderId, alipayId;
  };

  // A request path served from a file of the npm packages.
  struct VendorFile {
    const char* path;  // as requested
    const char* file;  // under the packages folder (node_modules)
  };
  static const VendorFile kVendorFiles[3];
  // Under the web folder's node_modules.
  static const VendorFile kUiLibFiles[1];
  static constexpr const char* kThemeImagesPath = "/image/css/flick/images/";
  static constexpr const char* kThemeImagesFolder = "jquery-ui-themes/themes/flick/images";

  // `webRoot` holds the files of the web UI (index.html and what it loads);
  // empty serves a one-line page. `vendorRoot` is the node_modules folder of
  // service/vendor; empty serves no jQuery files.
  explicit MakerService(std::filesystem::path webRoot = {}, std::filesystem::path vendorRoot = {});
  ~MakerService();

  // Listens on 127.0.0.1:`port` (0 = a free port) and serves on its own
  // thread; returns the port. Throws std::runtime_error when it cannot bind.
  std::uint16_t start(std::uint16_t port);
  void stop();
  std::uint16_t port() const { return port_; }

  static constexpr std::size_t kMaxBodyBytes = 64 * 1024;
  static constexpr std::size_t kMaxKeptMessages = 1000;

  // The next answers of the messaging endpoints: "SUCCESS" true or false.
  void setAccepting(bool accepting);
  // The kept messages, oldest first.
  std::vector<Message> messages() const;

 private:
  void installRoutes();

  // The file a request path names among the npm packages (the login page's
  // or the web UI's), or empty.
  std::filesystem::path vendorFile(const std::string& path) const;

  std::filesystem::path webRoot_;
  std::filesystem::path vendorRoot_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  std::uint16_t port_ = 0;

  mutable Mutex mutex_;
  std::deque<Message> messages_ GUARDED_BY(mutex_);   // guarded by mutex_; the last kMaxKeptMessages
  bool accepting_ GUARDED_BY(mutex_) = true;          // guarded by mutex_
};

}  // namespace Quorvel
