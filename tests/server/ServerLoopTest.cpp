#include "server/ServerThread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/ProcessWide.h"
#include "server/ActionTable.h"
#include "server/LaunchKey.h"
#include "tests/server/TestServer.h"

namespace Quorvel {
namespace {

using testing::bodyOf;
using testing::exchange;

// Records every port a server of the loop listened on.
class PortLog {
 public:
  void add(std::uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.push_back(port);
    changed_.notify_all();
  }
  std::uint16_t waitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool reached = changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ports_.size() >= count; });
    return reached ? ports_[count - 1] : 0;
  }
  bool empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.empty();
  }
  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint16_t> ports_;  // guarded by mutex_
};

TEST(RandomPort, StaysInRange) {
  for (int i = 0; i < 20000; ++i) {
    std::uint16_t port = randomPort();
    ASSERT_GE(port, 10000);
    ASSERT_LE(port, 60000);
  }
}

TEST(UiAddress, BothKeyOrdersWithTheKeyInTheFragment) {
  installProcessWide(std::make_shared<LaunchKey>("0123abcd"));
  EXPECT_EQ(uiAddress("http://h:1/", 12345), "http://h:1/?ver=1105&port=12345#token=0123abcd");
  EXPECT_EQ(uiAddress("http://h:1", 12345, true), "http://h:1/?port=12345&ver=1105#token=0123abcd");
  uiPort = 23456;
  EXPECT_EQ(localAddress("vendara.local", "do=login&x=1"), "http://vendara.local:23456/?do=login&x=1&token=0123abcd");
  resetProcessWide();
}

// A failing action is answered on the same port: the loop's server keeps
// running and the page the seller has open keeps working.
TEST(ServerLoop, AnExceptionEscapingAnActionKeepsThePort) {
  registerHandler("explode", [](const HttpRequest&, Reply&) { throw std::runtime_error("escaped"); });
  PortLog log;
  ServerLoopOptions options;
  options.choosePort = [] { return std::uint16_t{0}; };
  options.onListening = [&log](std::uint16_t port) { log.add(port); };
  std::jthread thread([&options](std::stop_token stop) { runServerLoop(options, stop); });

  std::uint16_t first = log.waitFor(1);
  ASSERT_NE(first, 0);
  EXPECT_EQ(uiPort.load(), first);
  const std::string failed = bodyOf(exchange(first, "GET /?do=explode&callback=cb HTTP/1.1\r\n\r\n"));
  EXPECT_NE(failed.find("\"SUCCESS\" : 0"), std::string::npos) << failed;
  EXPECT_EQ(bodyOf(exchange(first, "GET / HTTP/1.1\r\n\r\n")), "<h2>Bad Request!</h2>");
  EXPECT_EQ(uiPort.load(), first);
  thread.request_stop();
  thread.join();
  EXPECT_EQ(log.size(), 1u) << "the server was started again";
}

// The program listens before its start-up work: a connection made then is
// taken at once and answered once the gate opens, and the UI page is opened
// only then.
TEST(ServerLoop, ListensAtOnceAndAnswersOnceTheGateOpens) {
  PortLog listening;
  PortLog serving;
  ServerLoopOptions options;
  options.choosePort = [] { return std::uint16_t{0}; };
  options.startGate = std::make_shared<StartGate>();
  options.onListening = [&listening](std::uint16_t port) { listening.add(port); };
  options.onServing = [&serving](std::uint16_t port) { serving.add(port); };
  std::jthread thread([&options](std::stop_token stop) { runServerLoop(options, stop); });

  const std::uint16_t port = listening.waitFor(1);
  ASSERT_NE(port, 0);
  std::string early;
  std::thread client([&early, port] { early = exchange(port, "GET / HTTP/1.1\r\n\r\n"); });
  // Whatever the client is doing, nothing is served before the gate opens.
  EXPECT_TRUE(serving.empty());
  options.startGate->open();
  EXPECT_EQ(serving.waitFor(1), port);
  client.join();
  EXPECT_EQ(bodyOf(early), "<h2>Bad Request!</h2>");
  thread.request_stop();
}

// A start that fails before the gate opens still ends the server thread.
TEST(ServerLoop, StopWhileTheGateIsClosedEndsTheLoop) {
  PortLog listening;
  bool served = false;
  ServerLoopOptions options;
  options.choosePort = [] { return std::uint16_t{0}; };
  options.startGate = std::make_shared<StartGate>();
  options.onListening = [&listening](std::uint16_t port) { listening.add(port); };
  options.onServing = [&served](std::uint16_t) { served = true; };
  {
    std::jthread thread([&options](std::stop_token stop) { runServerLoop(options, stop); });
    listening.waitFor(1);
  }  // joined here: the wait at the gate gave way to the stop
  EXPECT_FALSE(served);
}

TEST(ServerLoop, PortThatCannotBeBoundIsSkipped) {
  testing::TestServer occupant;  // holds a port
  PortLog log;
  int calls = 0;
  ServerLoopOptions options;
  options.choosePort = [&calls, &occupant] { return ++calls == 1 ? occupant.port() : std::uint16_t{0}; };
  options.onListening = [&log](std::uint16_t port) { log.add(port); };
  std::jthread thread([&options](std::stop_token stop) { runServerLoop(options, stop); });
  std::uint16_t port = log.waitFor(1);
  EXPECT_NE(port, 0);
  EXPECT_NE(port, occupant.port());
  thread.request_stop();
}

}  // namespace
}  // namespace Quorvel
