// The daemon's threads: the supervisor starts both workers, replaces a worker
// whose heartbeat is older than 120 seconds, and an abandoned worker ends at
// its next pause. Time moves only when a test advances the fake clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/Registry.h"
#include "delivery/Deamon.h"
#include "store/SystemConfig.h"
#include "tests/delivery/Fakes.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

constexpr std::int64_t kStart = 1'700'000'000;

class DeamonThreads : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    daemon_ = std::make_unique<Deamon>(Env(clock_));
    SystemConfig::instance()->set(getDb(), "check_order_timeout", "");
    SystemConfig::instance()->set(getDb(), "check_msg_timeout", "");
    daemon_->setOrderPipeline(pipeline_);
    daemon_->setMessageDispatch(dispatch_);
  }
  void TearDown() override {
    pipeline_->fetchGate.open();
    dispatch_->gate.open();
    daemon_->stopAndWait();
    StoreFixture::TearDown();
  }

  // Waits until the count of live threads settles at `count`.
  bool waitLiveThreads(int count) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (daemon_->liveThreads() != count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(kStart);
  std::shared_ptr<FakePipeline> pipeline_ = std::make_shared<FakePipeline>();
  std::shared_ptr<FakeDispatch> dispatch_ = std::make_shared<FakeDispatch>();
  std::unique_ptr<Deamon> daemon_;  // built in SetUp, on the fake clock
};

TEST_F(DeamonThreads, BothWorkersStartInTheFirstCycleAndStoppedTicksOnlyRefreshTheHeartbeat) {
  daemon_->start();
  // Supervisor, order worker and message worker all pause at the start time.
  ASSERT_TRUE(clock_->waitSleepers(3, kStart));

  DeamonState state = daemon_->state();
  EXPECT_TRUE(state.supervisor);
  EXPECT_TRUE(state.orderWorker);
  EXPECT_TRUE(state.messageWorker);
  EXPECT_FALSE(state.running);
  EXPECT_EQ(state.orderHeartbeat, kStart);
  EXPECT_EQ(state.messageHeartbeat, kStart);
  EXPECT_TRUE(pipeline_->steps().empty());  // not logged in: no order step runs
  EXPECT_EQ(dispatch_->passes(), 1);        // messages go out while stopped
  EXPECT_EQ(Registry::instance()->getOr<std::int64_t>("checkLastTime", -1), 0);
  EXPECT_EQ(clock_->pauses(), (std::vector<std::int64_t>{10, 10, 10}));

  daemon_->start();  // a second start changes nothing
  EXPECT_EQ(daemon_->liveThreads(), 3);

  // Ten seconds on: the supervisor checks again, the workers cycle once more.
  clock_->advance(10);
  ASSERT_TRUE(clock_->waitSleepers(3, kStart + 10));
  EXPECT_EQ(daemon_->liveThreads(), 3);
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart + 10);
  EXPECT_EQ(dispatch_->passes(), 2);
}

TEST_F(DeamonThreads, HungOrderWorkerIsReplacedOnceItsHeartbeatIsOlderThan120Seconds) {
  daemon_->setRunning(true);
  pipeline_->fetchGate.close();
  daemon_->superviseOnce();
  ASSERT_TRUE(pipeline_->fetchGate.waitHeld(1));
  ASSERT_TRUE(clock_->waitSleepers(1, kStart));  // the message worker

  // Exactly 120 seconds is not yet stale.
  clock_->advance(120);
  ASSERT_TRUE(clock_->waitSleepers(1, kStart + 120));
  daemon_->superviseOnce();
  EXPECT_EQ(daemon_->liveThreads(), 2);
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart);

  clock_->advance(1);
  daemon_->superviseOnce();
  // The successor ticks at once and waits in discovery too; the abandoned
  // worker is still there.
  ASSERT_TRUE(pipeline_->fetchGate.waitHeld(2));
  EXPECT_EQ(daemon_->liveThreads(), 3);
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart + 121);
  EXPECT_EQ(dispatch_->passes(), 2);  // the message worker was kept

  // Let go, the abandoned worker finishes its tick and ends at its pause;
  // its successor goes on.
  pipeline_->fetchGate.open();
  ASSERT_TRUE(waitLiveThreads(2));
  ASSERT_TRUE(clock_->waitSleepers(2, kStart + 120));
  EXPECT_EQ(pipeline_->count("deliver"), 2);
}

TEST_F(DeamonThreads, WorkerPausingLongerThan120SecondsIsAbandonedAndItsPauseEnds) {
  SystemConfig::instance()->set(getDb(), "check_order_timeout", "300");
  daemon_->superviseOnce();
  ASSERT_TRUE(clock_->waitSleepers(2, kStart));

  // A clock set back puts the heartbeats in the future: not stale.
  clock_->set(kStart - 1000);
  daemon_->superviseOnce();
  EXPECT_EQ(daemon_->liveThreads(), 2);
  clock_->set(kStart);

  clock_->advance(121);
  // The message worker paused again; the order worker is still in its pause.
  ASSERT_TRUE(clock_->waitSleepers(1, kStart + 121));
  daemon_->superviseOnce();
  // The old order worker's pause ends at the stop request; the new one ticks
  // at once and pauses 300 seconds from now.
  ASSERT_TRUE(waitLiveThreads(2));
  ASSERT_TRUE(clock_->waitSleepers(2, kStart + 121));
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart + 121);
  std::vector<std::int64_t> pauses = clock_->pauses();
  std::sort(pauses.begin(), pauses.end());
  EXPECT_EQ(pauses, (std::vector<std::int64_t>{10, 10, 300, 300}));
}

TEST_F(DeamonThreads, HungDispatchPassGetsASecondMessageWorker) {
  dispatch_->gate.close();
  daemon_->superviseOnce();
  ASSERT_TRUE(dispatch_->gate.waitHeld(1));
  ASSERT_TRUE(clock_->waitSleepers(1, kStart));  // the order worker
  clock_->advance(121);
  ASSERT_TRUE(clock_->waitSleepers(1, kStart + 121));
  daemon_->superviseOnce();
  ASSERT_TRUE(dispatch_->gate.waitHeld(2));
  EXPECT_EQ(daemon_->liveThreads(), 3);

  dispatch_->gate.open();
  ASSERT_TRUE(waitLiveThreads(2));
  EXPECT_EQ(dispatch_->passes(), 2);
}

}  // namespace
}  // namespace Quorvel::testing
