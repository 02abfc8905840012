// A failed accept (no file descriptor left) is retried after a pause, not in a
// busy loop, and the waiting connection is served once descriptors are free.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "server/HttpServer.h"
#include "tests/server/TestServer.h"

namespace Quorvel {
namespace {

class CountingServer : public httpServer {
 public:
  using httpServer::httpServer;
  std::atomic<int> failedAccepts{0};

 protected:
  void onAccept(const boost::system::error_code& error, SocketPtr socket) override {
    if (error) ++failedAccepts;
    httpServer::onAccept(error, socket);
  }
};

// Takes every free file descriptor of the process (under a lowered soft
// limit, so there are few to take) until destroyed.
class DescriptorsExhausted {
 public:
  DescriptorsExhausted() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    if (lowered.rlim_cur > 512) lowered.rlim_cur = 512;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (;;) {
      int fd = ::dup(0);
      if (fd < 0) break;
      taken_.push_back(fd);
    }
  }
  ~DescriptorsExhausted() { release(); }
  void release() {
    for (int fd : taken_) ::close(fd);
    taken_.clear();
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

TEST(AcceptErrors, AreRetriedAfterAPauseAndTheConnectionIsServedLater) {
  boost::asio::io_context io;
  CountingServer server(io, 0);
  std::thread runner([&io] { io.run(); });
  struct StopAtEnd {
    boost::asio::io_context& io;
    std::thread& runner;
    ~StopAtEnd() {
      io.stop();
      runner.join();
    }
  } stopAtEnd{io, runner};

  // The client's socket exists before the table is full; connecting needs no
  // new descriptor, accepting does.
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.localPort());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  DescriptorsExhausted exhausted;
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (server.failedAccepts == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(server.failedAccepts, 0) << "the accept did not fail";
  // Six retries fit into this window at 50 ms apiece; a busy loop makes
  // thousands.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int failed = server.failedAccepts;
  exhausted.release();
  EXPECT_LE(failed, 12);

  const std::string request = testing::withAccess(server.localPort(), "GET / HTTP/1.1\r\n\r\n");
  ASSERT_EQ(::send(client, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  std::string answer;
  char chunk[4096];
  ssize_t got;
  while ((got = ::recv(client, chunk, sizeof chunk, 0)) > 0) answer.append(chunk, got);
  ::close(client);
  EXPECT_NE(answer.find("<h2>Bad Request!</h2>"), std::string::npos);
}

}  // namespace
}  // namespace Quorvel
