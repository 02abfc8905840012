// The server thread and the daemon's order worker keep their connections from
// one action or tick to the next. Whatever one piece of work leaves open (a
// transaction with an uncommitted write, a cursor midway) must be gone before
// the next begins, and the next must see what other connections committed
// meanwhile. Both sides leave work open on purpose here, while the other
// side and a third connection keep writing. Meant to be run under
// ThreadSanitizer (see README.md).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "api/ActionDispatch.h"
#include "base/Clock.h"
#include "base/ProcessWide.h"
#include "delivery/Deamon.h"
#include "store/Db.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/QuickClock.h"

namespace Quorvel::testing {
namespace {

// Categories of the cards each side writes.
constexpr int kServerLeftOpen = 77;   // inserted by an action and never committed
constexpr int kWorkerLeftOpen = 99;   // inserted by a tick and never committed
constexpr int kCommittedElsewhere = 55;  // committed by a third connection

int cardsOf(const std::shared_ptr<IDb>& db, int category) {
  auto rows = db->query(std::make_shared<SQL>("select count(*) from `items` where `cg_id`=?")->bind(category));
  return rows->intAt(0);
}

int busyStatements(const std::shared_ptr<IDb>& db) { return dynamic_cast<Db&>(*db).statementsInUse(); }

// Each tick first checks that the last one left nothing behind and records
// what it sees of the third connection's commits, then leaves a cursor
// midway and an uncommitted card for the reset to clean up.
class LeavingPipeline : public OrderPipeline {
 public:
  void fetchPaidOrders(const std::shared_ptr<IDb>& db) override {
    if (busyStatements(db) != 0 || cardsOf(db, kWorkerLeftOpen) != 0) ++leftovers;
    if (lastConnection_ && lastConnection_ != db.get()) ++reconnects;
    lastConnection_ = db.get();
    seen = cardsOf(db, kCommittedElsewhere);
    db->begin();
    db->execute(std::make_shared<SQL>("insert into `items` (`cg_id`) values (?)")->bind(kWorkerLeftOpen));
    cursor_ = db->query("select `id` from `items`");
    cursor_->next();
    ++ticks;
  }
  void parseNewOrders(const std::shared_ptr<IDb>&) override {}
  void deliverOrders(const std::shared_ptr<IDb>&) override {}
  void rateBuyers(const std::string&, int) override {}

  std::atomic<int> ticks{0};
  std::atomic<int> leftovers{0};
  std::atomic<int> reconnects{0};
  std::atomic<int> seen{-1};

 private:
  // Touched by the order worker only (and destroyed after it ended).
  std::shared_ptr<IDbResult> cursor_;
  IDb* lastConnection_ = nullptr;
};

using CleanStateThreads = StoreFixture;

TEST_F(CleanStateThreads, NothingLeftOpenReachesTheNextActionOrTick) {
  getDb()->exec("insert into `items` (`cg_id`) values (1)");  // something for cursors to stop on
  const Env env(std::make_shared<QuickClock>());
  auto pipeline = std::make_shared<LeavingPipeline>();
  auto daemon = std::make_shared<Deamon>(env);
  daemon->setOrderPipeline(pipeline);

  std::shared_ptr<IDbResult> serverCursor;  // touched by the server thread only
  Json::Value success(Json::objectValue);
  success["SUCCESS"] = 1;
  registerAction(env, "leaveOpen", [&serverCursor, success](ActionContext& context) {
    context.answerJsonp(success, [&serverCursor, &context](Json::Value&) {
      const std::shared_ptr<IDb>& db = context.db;
      db->begin();
      db->execute(std::make_shared<SQL>("insert into `items` (`cg_id`) values (?)")->bind(kServerLeftOpen));
      serverCursor = db->query("select `id` from `items`");
      serverCursor->next();
    });
  });
  registerAction(env, "look", [success](ActionContext& context) {
    context.answerJsonp(success, [&context](Json::Value& reply) {
      const std::shared_ptr<IDb>& db = context.db;
      reply["BUSY"] = busyStatements(db);
      reply["LEFT"] = cardsOf(db, kServerLeftOpen);
      reply["SEEN"] = cardsOf(db, kCommittedElsewhere);
    });
  });
  TestServer server;
  daemon->start();
  daemon->setRunning(true);

  auto third = otherConnection();
  for (int round = 1; round <= 12; ++round) {
    Json::Value left = callAction(server.port(), "leaveOpen");
    ASSERT_EQ(left["SUCCESS"], Json::Value(1)) << left["MSG"].asString() << " (round " << round << ")";
    // Neither the action's nor a tick's open transaction holds this up.
    ASSERT_NO_THROW(third->execute(
        std::make_shared<SQL>("insert into `items` (`cg_id`) values (?)")->bind(kCommittedElsewhere)));

    Json::Value look = callAction(server.port(), "look");
    EXPECT_EQ(look["BUSY"], Json::Value(0)) << "round " << round;
    EXPECT_EQ(look["LEFT"], Json::Value(0)) << "round " << round;
    EXPECT_EQ(look["SEEN"], Json::Value(round)) << "round " << round;

    // The worker sees the commit within a few ticks.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (pipeline->seen.load() != round && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(pipeline->seen.load(), round) << "the order worker reads an old snapshot";
  }
  // Two more ticks, so the last one's leftovers are checked too.
  const int ticks = pipeline->ticks.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (pipeline->ticks.load() < ticks + 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_GE(pipeline->ticks.load(), ticks + 2);
  daemon->stopAndWait();

  EXPECT_EQ(pipeline->leftovers.load(), 0);
  EXPECT_EQ(pipeline->reconnects.load(), 0) << "the worker's connection was not kept across ticks";
  EXPECT_EQ(count("select count(*) as `num` from `items` where `cg_id` in (77, 99)"), 0);
}

}  // namespace
}  // namespace Quorvel::testing
