// A tiny HTTP server on 127.0.0.1 (free port) for the client tests: every
// connection gets the raw bytes the test's handler returns, so a test can
// answer well-formed pages as well as malformed ones (interim 100 blocks, no
// header end, redirects without Location). It records every request.
//
// The accept thread and one thread per connection are owned by the server;
// the destructor stops and joins them all. Handlers run on connection threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Quorvel::testing {

struct SeenRequest {
  std::string method;
  std::string target;   // path and query as sent
  std::string headers;  // the header lines, "\r\n" between
  std::string body;
  // The value of header `name` (case-insensitive), empty when absent.
  std::string header(const std::string& name) const;
};

// A complete answer with Content-Length; `headers` are extra lines, each
// ending in "\r\n".
std::string answer(int code, const std::string& body, const std::string& headers = "");

class LoopbackServer {
 public:
  using Handler = std::function<std::string(const SeenRequest&)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const;
  std::vector<SeenRequest> requests();

  // For handlers that must stay silent: returns when the server stops.
  void waitUntilStopped();

 private:
  void acceptLoop();
  void serve(int fd);

  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::thread acceptThread_;  // owns listenFd_ until stop

  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;                  // guarded by mutex_
  std::vector<SeenRequest> requests_;      // guarded by mutex_
  std::vector<std::thread> connections_;   // guarded by mutex_
};

}  // namespace Quorvel::testing
