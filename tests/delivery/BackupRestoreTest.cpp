// Backups and restores beside the delivery: copies taken while orders are
// delivered are whole and consistent (checked with the sqlite3 tool); a
// restore to a copy from before a delivery delivers nothing a second time
// (the marketplace shows the order shipped); a restore is refused while an
// order is in flight. The daemon holds for a restore and delivers nothing
// while the disk refuses writes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "api/BackupActions.h"
#include "delivery/Deamon.h"
#include "store/Backups.h"
#include "store/StorageHealth.h"
#include "tests/delivery/DeliveryFixture.h"
#include "tests/delivery/Fakes.h"
#include "tests/store/FullDiskVfs.h"

namespace Quorvel::testing {
namespace {

namespace fs = std::filesystem;

std::string sqlite3Tool(const fs::path& file, const std::string& sql) {
  std::string out;
  FILE* pipe = ::popen(("sqlite3 '" + file.string() + "' \"" + sql + "\"").c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class BackupRestore : public DeliveryFixture {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    category_ = addCategory(1, tplJson(gbk("卡:{数据1}"), gbk("{卡密内容}")), R"({"email":1})");
    item_ = addItem("T", category_);
  }

  int category_ = 0;
  std::string item_;
};

TEST_F(BackupRestore, CopiesTakenWhileOrdersAreDeliveredAreWholeAndConsistent) {
  addCards(category_, 60);
  std::atomic<bool> done{false};
  std::atomic<int> taken{0};
  std::thread copier([&] {
    Backups backups;
    while (!done && taken < 200) {
      backups.takeNow(1000);
      ++taken;
    }
  });
  for (int round = 0; round < 10; ++round) {
    for (int k = 0; k < 4; ++k) place("b" + std::to_string(round * 4 + k), {{item_, 1}});
    tick();
  }
  done = true;
  copier.join();
  EXPECT_EQ(fileValue("select count(*) from `orders` where `status`=2"), "40");
  ASSERT_GT(taken.load(), 0);
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(Backups::folder())) {
    const fs::path copy = entry.path();
    ASSERT_TRUE(Backups::isCopyName(copy.filename().string())) << copy;
    EXPECT_EQ(sqlite3Tool(copy, "pragma integrity_check"), "ok") << copy;
    // One card per order: every delivered order's card is marked delivered,
    // every order in flight holds a reserved one, and the counters agree.
    const std::string delivered = sqlite3Tool(copy, "select count(*) from orders where status=2");
    EXPECT_EQ(sqlite3Tool(copy, "select count(*) from items where send_order_id like '已发货%'"), delivered) << copy;
    EXPECT_EQ(sqlite3Tool(copy, "select count(*) from items where send_order_id like '发货中%'"),
              sqlite3Tool(copy, "select count(*) from orders where status=3"))
        << copy;
    EXPECT_EQ(sqlite3Tool(copy, "select store_num || '/' || store_total_num from category where id=" +
                                    std::to_string(category_)),
              sqlite3Tool(copy, "select sum(send_order_id='') || '/' || count(*) from items where cg_id=" +
                                    std::to_string(category_)))
        << copy;
    ++checked;
  }
  EXPECT_EQ(checked, taken.load());
}

TEST_F(BackupRestore, ARestoreToACopyFromBeforeADeliveryDeliversNothingTwice) {
  const std::vector<int> cards = addCards(category_, 3);
  SimOrder first = place("b1", {{item_, 1}});
  readOrders();
  ASSERT_EQ(statusOf(first.id), kOrderDetailsRead);
  const BackupCopy before = Backups::instance()->takeNow();
  deliver();
  ASSERT_EQ(statusOf(first.id), kOrderDelivered);
  ASSERT_EQ(markOf(cards[0]), Item::deliveredMark(first.id));
  ASSERT_EQ(sim_->shop().consignments().size(), 1u);

  Deamon daemon{Env()};
  const std::string saved = restoreBackup(getDb(), daemon, before.name);
  EXPECT_TRUE(Backups::isCopyName(saved));
  EXPECT_NE(saved, before.name);
  EXPECT_FALSE(daemon.held()) << "the daemon goes on after the restore";
  // The copy knows the order only as waiting; its card is unsent again.
  EXPECT_EQ(statusOf(first.id), kOrderDetailsRead);
  EXPECT_EQ(markOf(cards[0]), "");
  EXPECT_EQ(Category::instance()->get(category_).store_num, 3) << "caches read again from the restored file";

  // The next tick: the marketplace shows the order shipped, so no card goes
  // out for it and nothing is consigned again.
  SimOrder second = place("b2", {{item_, 1}});
  tick();
  EXPECT_EQ(statusOf(first.id), orderFailed(5));
  EXPECT_EQ(ofOrder("`text_msg`", first.id), gbk("错误的订单状态"));
  EXPECT_EQ(statusOf(second.id), kOrderDelivered);
  EXPECT_EQ(markOf(cards[0]), Item::deliveredMark(second.id)) << "the card went to the new order only";
  EXPECT_EQ(markOf(cards[1]), "");
  EXPECT_EQ(sim_->shop().consignments().size(), 2u);
  for (const std::string& message : buyerMessages()) EXPECT_EQ(message.find(first.id), std::string::npos) << message;
  expectCountersMatchCards(category_);

  // The file as it was before the restore is a copy of its own.
  EXPECT_EQ(sqlite3Tool(Backups::folder() / saved, "select status from orders where order_id='" + first.id + "'"), "2");
}

TEST_F(BackupRestore, ARestoreIsRefusedWhileAnOrderIsInFlight) {
  addCards(category_, 2);
  SimOrder order = place("b", {{item_, 1}});
  readOrders();
  const BackupCopy copy = Backups::instance()->takeNow();
  db_->exec("update `orders` set `status`=3");
  Deamon daemon{Env()};
  try {
    restoreBackup(getDb(), daemon, copy.name);
    ADD_FAILURE() << "refused at status 3";
  } catch (Exception e) {
    EXPECT_NE(e.message().find(gbk("正在发货中")), std::string::npos) << gbkToUtf8(e.message());
  }
  EXPECT_EQ(statusOf(order.id), kOrderDelivering) << "nothing restored";
  EXPECT_EQ(Backups::instance()->list().size(), 1u) << "and nothing copied";
  EXPECT_FALSE(daemon.held());
}

class DaemonSafety : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    storageHealth().noteWriteWorked();
    const Env env(std::make_shared<FakeClock>(1'700'000'000));
    testing::useDatabaseWallTime(env.sharedClock());
    daemon_ = std::make_unique<Deamon>(env);
    daemon_->setOrderPipeline(pipeline_);
    daemon_->setRunning(true);
  }
  void TearDown() override {
    daemon_.reset();
    storageHealth().noteWriteWorked();
    StoreFixture::TearDown();
  }

  // Made by a test before it opens connections; outlives them.
  std::unique_ptr<FullDiskVfs> disk_;
  std::shared_ptr<FakePipeline> pipeline_ = std::make_shared<FakePipeline>();
  std::unique_ptr<Deamon> daemon_;
};

TEST_F(DaemonSafety, DeliveriesPauseWhileTheDiskRefusesWritesAndGoOnOnceItTakesThem) {
  disk_ = std::make_unique<FullDiskVfs>();  // before any connection opens
  FullDiskVfs& disk = *disk_;
  const int cg = addCategory("c");
  disk.setFull(true);
  try {
    addCard(cg, "n", "p");
    ADD_FAILURE() << "a full disk refuses the card";
  } catch (DbException e) {
    EXPECT_NE(e.message().find(gbk("磁盘空间不足")), std::string::npos) << gbkToUtf8(e.message());
  }
  resetDbForNextAction();
  EXPECT_TRUE(storageHealth().failing());
  daemon_->checkOrders();
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->count("fetch"), 0) << "no delivery starts while writes fail";
  disk.setFull(false);
  daemon_->checkOrders();
  EXPECT_FALSE(storageHealth().failing());
  EXPECT_EQ(pipeline_->count("fetch"), 1);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0) << "the refused card left nothing behind";
}

TEST_F(DaemonSafety, AHeldDaemonRunsNoTickUntilResumed) {
  daemon_->hold();
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->count("fetch"), 0);
  daemon_->resume();
  daemon_->checkOrders();
  EXPECT_EQ(pipeline_->count("fetch"), 1);
}

}  // namespace
}  // namespace Quorvel::testing
