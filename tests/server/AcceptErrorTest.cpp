// A failed accept (no file descriptor left) is retried after a pause on the
// server's clock, not in a busy loop, and the waiting connection is served
// once descriptors are free.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "server/HttpServer.h"
#include "tests/server/TestServer.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

class CountingServer : public httpServer {
 public:
  using httpServer::httpServer;

  int failedAccepts() {
    std::lock_guard<std::mutex> hold(mutex_);
    return failed_;
  }
  // Waits until `count` accepts have failed.
  bool waitFailed(int count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, testing::kPatience, [&] { return failed_ >= count; });
  }

 protected:
  void onAccept(const boost::system::error_code& error, SocketPtr socket) override {
    httpServer::onAccept(error, socket);
    if (!error) return;
    std::lock_guard<std::mutex> hold(mutex_);
    ++failed_;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int failed_ = 0;  // guarded by mutex_
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
  auto clock = std::make_shared<testing::FakeClock>(1'700'000'000);
  const Env env(clock);
  boost::asio::io_context io;
  CountingServer server(io, 0, env);
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
  ASSERT_TRUE(server.waitFailed(1)) << "the accept did not fail";
  // Runs on the server thread after everything handed to it so far.
  auto settle = [&io] {
    std::promise<void> done;
    boost::asio::post(io, [&done] { done.set_value(); });
    done.get_future().wait();
  };
  // No retry until the pause has passed on the clock, however long the
  // real wait; then exactly one, which fails again.
  clock->step(server::kAcceptRetryDelay - std::chrono::milliseconds(1));
  settle();
  EXPECT_EQ(server.failedAccepts(), 1);
  clock->step(std::chrono::milliseconds(1));
  ASSERT_TRUE(server.waitFailed(2));
  settle();
  EXPECT_EQ(server.failedAccepts(), 2);
  clock->step(server::kAcceptRetryDelay * 3);
  ASSERT_TRUE(server.waitFailed(3));
  settle();
  EXPECT_EQ(server.failedAccepts(), 3) << "one retry per pause, however much time passed";

  // Once descriptors are free, the retry after the next pause accepts.
  exhausted.release();
  clock->step(server::kAcceptRetryDelay);

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
