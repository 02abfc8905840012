// A delivery cut short at each point between its steps (the probe ends the
// step there, as a crash would, without any rollback), then picked up by the
// next delivery step of a fresh pipeline: every order ends delivered once,
// with the cards it reserved, one consignment and one set of messages; an
// order the marketplace closed meanwhile gets its cards back. Also: a second
// worker leaves alone an order the first one is delivering.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/delivery/DeliveryFixture.h"
#include "tests/support/Gate.h"

namespace Quorvel::testing {
namespace {

struct Cut {};

// Ends the delivery at one named point (once).
class CutAt : public DeliveryProbe {
 public:
  explicit CutAt(std::string point) : point_(std::move(point)) {}
  void reached(const std::string& point, const std::string&) override {
    if (point == point_ && !done_.exchange(true)) throw Cut();
  }

 private:
  std::string point_;
  std::atomic<bool> done_{false};
};

class DeliveryRecovery : public DeliveryFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    category_ = addCategory(1, tplJson(gbk("卡:{数据1}"), gbk("{卡密内容}")), R"({"email":1})");
    cards_ = addCards(category_, 3);
  }

  // Runs the delivery step of a freshly started program (its Env with the
  // program's probe, which does nothing).
  void restart() {
    OrderDelivery fresh{Env(clock_)};
    fresh.deliverOrders(db_);
  }

  int category_ = 0;
  std::vector<int> cards_;
};

TEST_P(DeliveryRecovery, AnOrderCutShortAtAnyPointEndsDeliveredOnceWithItsCards) {
  const std::string point = GetParam();
  SimOrder order = place(gbk("東乛"), {{addItem("T", category_), 2}});
  env_.set<DeliveryProbe>(std::make_shared<CutAt>(point));
  readOrders();
  EXPECT_THROW(deliver(), Cut);
  const int status = statusOf(order.id);
  EXPECT_TRUE(status == kOrderDelivering || status == kOrderDelivered) << status;
  if (status == kOrderDelivering) {
    EXPECT_EQ(markOf(cards_[0]), Item::reservedMark(order.id));
    EXPECT_TRUE(buyerMessages().empty()) << "nothing for the buyer before the order is finished";
  }

  restart();
  restart();  // a second start changes nothing
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(markOf(cards_[0]), Item::deliveredMark(order.id));
  EXPECT_EQ(markOf(cards_[1]), Item::deliveredMark(order.id));
  EXPECT_EQ(markOf(cards_[2]), "");
  expectCountersMatchCards(category_);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
  EXPECT_EQ(buyerMessages().size(), 1u);
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("【T】的发货信息：卡:N0卡:N1") + "\r\n");
  ASSERT_EQ(sim_->shop().memos().size(), 1u) << "the memo a cut left unwritten is written at the next start";
  EXPECT_EQ(sim_->shop().memos()[0].memo, gbk("【T】的发货信息：卡:N0卡:N1") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Points, DeliveryRecovery,
                         ::testing::Values("reserved", "consigning", "consigned", "finished", "memo"));

using DeliveryRecoveryCases = DeliveryRecovery;

TEST_F(DeliveryRecoveryCases, AnOrderClosedWhileInFlightGetsItsCardsBackWith1005) {
  SimOrder order = place("b", {{addItem("T", category_), 1}});
  env_.set<DeliveryProbe>(std::make_shared<CutAt>("reserved"));
  readOrders();
  EXPECT_THROW(deliver(), Cut);
  ASSERT_TRUE(sim_->shop().setOrderState(order.id, kSimClosed));
  restart();
  EXPECT_EQ(statusOf(order.id), orderFailed(5));
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("错误的订单状态"));
  EXPECT_EQ(markOf(cards_[0]), "");
  expectCountersMatchCards(category_);
  EXPECT_TRUE(sim_->shop().consignments().empty());
  const std::vector<std::string> steps = stepsOf(order.id);
  EXPECT_EQ(steps, (std::vector<std::string>{"reserved", "recovered", "consign_failed", "released", "failed"}));
}

TEST_F(DeliveryRecoveryCases, AnUnreadablePageLeavesTheOrderInFlightUntilItCanBeRead) {
  SimOrder order = place("b", {{addItem("T", category_), 1}});
  env_.set<DeliveryProbe>(std::make_shared<CutAt>("consigned"));
  readOrders();
  EXPECT_THROW(deliver(), Cut);
  SimFaults faults;
  faults.emptyAnswers = true;
  sim_->shop().setFaults(faults);
  restart();
  EXPECT_EQ(statusOf(order.id), kOrderDelivering);
  EXPECT_EQ(markOf(cards_[0]), Item::reservedMark(order.id));
  sim_->shop().setFaults({});
  restart();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
}

// Holds the delivery at one point until released.
class HoldAt : public DeliveryProbe {
 public:
  explicit HoldAt(std::string point) : point_(std::move(point)) { gate_.close(); }
  void reached(const std::string& point, const std::string&) override {
    if (point == point_) gate_.pass();
  }
  bool waitHeld() { return gate_.waitHeld(1); }
  void release() { gate_.open(); }

 private:
  std::string point_;
  Gate gate_;
};

using DeliveryRecoveryThreads = DeliveryRecovery;

TEST_F(DeliveryRecoveryThreads, ASecondWorkerLeavesAloneTheOrderTheFirstIsDelivering) {
  SimOrder order = place("b", {{addItem("T", category_), 1}});
  readOrders();
  auto hold = std::make_shared<HoldAt>("consigning");
  env_.set<DeliveryProbe>(hold);
  OrderDelivery pipeline(env_);  // shared by both workers, as the daemon's is
  std::thread first([&] {
    pipeline.deliverOrders(getDb());
    releaseDb();
  });
  ASSERT_TRUE(hold->waitHeld());
  ASSERT_EQ(statusOf(order.id), kOrderDelivering);
  // The replacement worker's tick, on a connection of its own.
  std::thread second([&] {
    pipeline.deliverOrders(getDb());
    releaseDb();
  });
  second.join();
  EXPECT_EQ(statusOf(order.id), kOrderDelivering) << "not recovered while the first is at it";
  EXPECT_TRUE(sim_->shop().consignments().empty());
  hold->release();
  first.join();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
  EXPECT_EQ(buyerMessages().size(), 1u);
}

}  // namespace
}  // namespace Quorvel::testing
