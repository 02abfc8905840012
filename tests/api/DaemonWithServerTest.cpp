// The daemon's threads and the server thread at work together: ticks and
// dispatch passes run without pause while the page changes the settings they
// read, toggles nothing but reads the status, and the login path flips the
// running flag. Meant to be run under ThreadSanitizer (see README.md).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "api/StatusActions.h"
#include "base/Clock.h"
#include "base/ProcessWide.h"
#include "base/Registry.h"
#include "delivery/Deamon.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/QuickClock.h"

namespace Quorvel::testing {
namespace {

// Steps that read the settings a real tick reads and count the ticks.
class SettingsReadingPipeline : public OrderPipeline {
 public:
  void fetchPaidOrders(const std::shared_ptr<IDb>&) override {
    SystemConfig::instance()->get("taobao_user");
    ++ticks;
  }
  void parseNewOrders(const std::shared_ptr<IDb>&) override {}
  void deliverOrders(const std::shared_ptr<IDb>&) override { SystemConfig::instance()->getAll(); }
  void rateBuyers(const std::string& text, int minutes) override { ++ratings; }
  std::atomic<int> ticks{0};
  std::atomic<int> ratings{0};
};

// A pass that looks at the queue and records its time, as the real one does.
class QueueReadingDispatch : public MessageDispatch {
 public:
  void sendMessages(std::stop_token) override {
    MsgQueue::instance()->pending(getDb());
    Registry::instance()->set<std::int64_t>("sendMsgTime", std::time(nullptr));
    ++passes;
  }
  std::atomic<int> passes{0};
};

// A bound on waits for the daemon's threads; giving up means the awaited
// cycle never came.
constexpr std::chrono::seconds kPatience{60};

template <class Counter>
bool waitBeyond(const Counter& counter, int value) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (counter.load() <= value) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

using DaemonServerThreads = StoreFixture;

TEST_F(DaemonServerThreads, SettingsChangeWhileTicksAndPassesRun) {
  const Env env(std::make_shared<QuickClock>());
  auto pipeline = std::make_shared<SettingsReadingPipeline>();
  auto dispatch = std::make_shared<QueueReadingDispatch>();
  auto daemon = std::make_shared<Deamon>(env);
  daemon->setOrderPipeline(pipeline);
  daemon->setMessageDispatch(dispatch);
  registerStatusActions(env, daemon);
  TestServer server;

  // Pauses the page may set (empty: the default); the quick clock makes
  // every pause a millisecond, so the workers cycle nearly back to back
  // while the page writes.
  const char* pauses[] = {"1", "", "86400", "10"};
  daemon->start();
  daemon->setRunning(true);

  for (int round = 0; round < 16; ++round) {
    const int ticks = pipeline->ticks.load();
    const int passes = dispatch->passes.load();
    Json::Value set = callAction(server.port(), "setConfig",
                                 formOf({{"check_order_timeout", pauses[round % 4]},
                                         {"check_msg_timeout", pauses[(round + 1) % 4]},
                                         {"comment_enable", round % 2 ? "1" : "0"},
                                         {"comment_msg", "好评 " + std::to_string(round)},
                                         {"taobao_user", "店" + std::to_string(round)}}));
    ASSERT_EQ(set["SUCCESS"], Json::Value(1)) << set["MSG"].asString();
    Json::Value status = callAction(server.port(), "getStatus");
    ASSERT_EQ(status["SUCCESS"], Json::Value(1));
    ASSERT_TRUE(status["RUNNING"].isBool());
    ASSERT_EQ(callAction(server.port(), "getConfig")["LIST"]["comment_msg"], Json::Value("好评 " + std::to_string(round)));
    // The login action's path: stop, then run again.
    daemon->setRunning(false);
    daemon->setRunning(true);
    ASSERT_TRUE(waitBeyond(pipeline->ticks, ticks));
    ASSERT_TRUE(waitBeyond(dispatch->passes, passes));
  }
  EXPECT_GT(pipeline->ratings.load(), 0);
  EXPECT_GT(callAction(server.port(), "getStatus")["SEND_MSG_TIME"].asInt(), 0);
  daemon->stopAndWait();
}

}  // namespace
}  // namespace Quorvel::testing
