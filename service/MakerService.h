// Our stand-in for the maker's web service: serves the web UI page and its
// files, the login-page script and close page, and the two messaging
// endpoints ("m=Api&a=web_send", "m=Api&a=email_send"), which record the
// messages they accept. Tests start it in-process on a free port; the
// maker-service program runs it for demos.
//
// It serves only regular files whose real path lies inside the web folder,
// takes request bodies of at most kMaxBodyBytes and keeps the last
// kMaxKeptMessages messages.
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

  // `webRoot` holds the files of the web UI (index.html and what it loads);
  // empty serves a one-line page.
  explicit MakerService(std::filesystem::path webRoot = {});
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

  std::filesystem::path webRoot_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  std::deque<Message> messages_;   // guarded by mutex_; the last kMaxKeptMessages
  bool accepting_ = true;          // guarded by mutex_
};

}  // namespace Quorvel
