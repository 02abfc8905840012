// One order tick and one cycle of each worker, run on the test thread: what a
// tick does while stopped and running, the lost-login stop with its seller
// notice, the rating switch, the pauses read from the settings, and failures
// that are dropped without losing the pause.
#include <gtest/gtest.h>

#include <stdexcept>

#include "base/Charset.h"
#include "base/Registry.h"
#include "delivery/Deamon.h"
#include "market/AuthException.h"
#include "store/DbException.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"
#include "tests/delivery/Fakes.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

constexpr std::int64_t kStart = 1'700'000'000;

class OrderTick : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    daemon_ = std::make_unique<Deamon>(Env(clock_));
    // These tests write many settings; waiting for the disk at every commit
    // would only make them slow.
    getDb()->exec("pragma synchronous = off;");
    config_ = SystemConfig::instance();
    config_->set(getDb(), "comment_enable", "");
    config_->set(getDb(), "notice_service_stop", "");
    config_->set(getDb(), "notice_type_email", "1");
    config_->set(getDb(), "notice_mailto", "seller@example.com");
    config_->set(getDb(), "taobao_user", gbk("小店"));
    daemon_->setOrderPipeline(pipeline_);
    daemon_->setMessageDispatch(dispatch_);
  }

  // The seller notices queued since the last call.
  std::vector<std::string> takeNotices() {
    std::vector<std::string> texts;
    MsgEntry entry;
    MsgQueue::instance()->load(getDb());
    while (MsgQueue::instance()->take(getDb(), 1, entry)) texts.push_back(entry.msg);
    return texts;
  }

  void failDiscoveryWithLostLogin() {
    pipeline_->failAt = [](const std::string& step) {
      if (step == "fetch") throw AuthException("login box");
    };
  }

  std::shared_ptr<SystemConfig> config_;
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(kStart, true);
  std::shared_ptr<FakePipeline> pipeline_ = std::make_shared<FakePipeline>();
  std::shared_ptr<FakeDispatch> dispatch_ = std::make_shared<FakeDispatch>();
  std::unique_ptr<Deamon> daemon_;  // built in SetUp, on the fake clock
  std::stop_source stop_;
};

TEST_F(OrderTick, StoppedTickRefreshesOnlyTheHeartbeatRunningTickRunsEveryStep) {
  daemon_->checkOrders();
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart);
  EXPECT_TRUE(pipeline_->steps().empty());
  EXPECT_EQ(Registry::instance()->getOr<std::int64_t>("checkLastTime", -1), 0);

  daemon_->setRunning(true);
  clock_->advance(5);
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->steps(), (std::vector<std::string>{"fetch", "parse", "deliver"}));
  EXPECT_EQ(Registry::instance()->getOr<std::int64_t>("checkLastTime", -1), kStart + 5);
  EXPECT_EQ(daemon_->state().orderHeartbeat, kStart + 5);
}

TEST_F(OrderTick, LostLoginStopsTheDaemonAndQueuesOneNoticeWhenAsked) {
  config_->set(getDb(), "notice_service_stop", "1");
  failDiscoveryWithLostLogin();
  daemon_->setRunning(true);

  daemon_->checkOrders();
  EXPECT_FALSE(daemon_->running());
  EXPECT_EQ(pipeline_->steps(), std::vector<std::string>{"fetch"});
  EXPECT_EQ(takeNotices(), std::vector<std::string>{gbk("Vendara提醒你：您的帐号【小店】已经停止运行")});

  // Stopped: later ticks neither look at the marketplace nor tell again.
  daemon_->checkOrders();
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->count("fetch"), 1);
  EXPECT_TRUE(takeNotices().empty());
}

TEST_F(OrderTick, LostLoginWithoutTheNoticeSwitchStopsSilently) {
  failDiscoveryWithLostLogin();
  for (const char* value : {"0", "", "true"}) {
    config_->set(getDb(), "notice_service_stop", value);
    daemon_->setRunning(true);
    daemon_->checkOrders();
    EXPECT_FALSE(daemon_->running()) << value;
    EXPECT_TRUE(takeNotices().empty()) << value;
  }
}

TEST_F(OrderTick, OtherFailuresSkipTheRestOfTheTickAndKeepRunning) {
  pipeline_->failAt = [](const std::string& step) {
    if (step == "parse") throw Exception("detail page changed", 0);
  };
  daemon_->setRunning(true);
  daemon_->checkOrders();
  EXPECT_TRUE(daemon_->running());
  EXPECT_EQ(pipeline_->steps(), (std::vector<std::string>{"fetch", "parse"}));

  pipeline_->failAt = nullptr;
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->count("deliver"), 1);
}

TEST_F(OrderTick, OnlyTheExactTextOneEnablesRating) {
  daemon_->setRunning(true);
  config_->set(getDb(), "comment_msg", gbk("好评，谢谢"));
  config_->set(getDb(), "comment_timeout", "15");
  for (const char* value : {"true", "yes", " 1", "01"}) {
    config_->set(getDb(), "comment_enable", value);
    daemon_->checkOrders();
    EXPECT_EQ(pipeline_->count("rate"), 0) << value;
  }
  config_->set(getDb(), "comment_enable", "1");
  daemon_->checkOrders();
  ASSERT_EQ(pipeline_->count("rate"), 1);
  EXPECT_EQ(pipeline_->ratingText, gbk("好评，谢谢"));
  EXPECT_EQ(pipeline_->ratingMinutes, 15);
}

// A pause of zero would turn a worker into a loop that never rests: garbage,
// zero and negative settings all pause one second.
TEST_F(OrderTick, PausesAreReadBeforeEveryPauseEmptyMeansTenAndNeverLessThanOne) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"", 10}, {"abc", 1}, {"   ", 1}, {"0", 1}, {"-5", 1}, {"30", 30}, {"300", 300}, {"7s", 7}};
  std::vector<std::int64_t> expected;
  for (const auto& [value, seconds] : cases) {
    config_->set(getDb(), "check_order_timeout", value);
    daemon_->orderCycle(stop_.get_token());
    config_->set(getDb(), "check_msg_timeout", value);
    daemon_->messageCycle(stop_.get_token());
    expected.insert(expected.end(), {seconds, seconds});
  }
  EXPECT_EQ(clock_->pauses(), expected);
  EXPECT_EQ(dispatch_->passes(), static_cast<int>(cases.size()));
}

TEST_F(OrderTick, FailingTicksAndPassesStillPause) {
  config_->set(getDb(), "check_order_timeout", "20");
  config_->set(getDb(), "check_msg_timeout", "40");
  daemon_->setRunning(true);
  pipeline_->failAt = [](const std::string& step) {
    if (step == "fetch") throw DbException("database is locked", 5);
    if (step == "deliver") throw std::runtime_error("not of the family");
  };
  dispatch_->failure = [] { throw std::runtime_error("dispatch broke"); };

  daemon_->orderCycle(stop_.get_token());  // DbException
  pipeline_->failAt = [](const std::string& step) {
    if (step == "deliver") throw std::runtime_error("not of the family");
  };
  daemon_->orderCycle(stop_.get_token());  // standard exception
  daemon_->messageCycle(stop_.get_token());
  EXPECT_EQ(clock_->pauses(), (std::vector<std::int64_t>{20, 20, 40}));
  EXPECT_TRUE(daemon_->running());
  EXPECT_EQ(daemon_->state().messageHeartbeat, kStart + 40);
}

}  // namespace
}  // namespace Quorvel::testing
