// The order log on a temporary database: rows in order with their time (on
// the clock of the connection that wrote them), repeats of the latest row
// left out, long texts cut between characters, rows that stand or fall with
// the writer's transaction, the memos still due, and a database made from a
// template without the table.
#include "store/OrderLog.h"

#include <gtest/gtest.h>

#include "base/Charset.h"
#include "store/DatabaseFile.h"
#include "store/Savepoint.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;

class OrderLogStore : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    log_ = OrderLog::instance();
  }

  std::vector<std::string> rows(const std::string& number) {
    std::vector<std::string> out;
    for (const OrderLogRow& row : log_->of(getDb(), number)) {
      out.push_back(std::to_string(row.time - kNow) + " " + row.step + " " + row.text);
    }
    return out;
  }

  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>(kNow, true);
  std::shared_ptr<OrderLog> log_;
};

TEST_F(OrderLogStore, RowsComeBackInOrderWithoutRepeatsOfTheLatest) {
  log_->add(getDb(), "100", OrderLog::kReserved, "3,4");
  clock_->advance(5);
  log_->add(getDb(), "200", OrderLog::kReserved, "5");
  log_->addOnce(getDb(), "100", OrderLog::kRefused, gbk("#7 旺旺 b 旺旺未能发送"));
  log_->addOnce(getDb(), "100", OrderLog::kRefused, gbk("#7 旺旺 b 旺旺未能发送"));  // the next pass, the same
  log_->addOnce(getDb(), "100", OrderLog::kSent, gbk("#7 旺旺 b 已发送"));
  log_->addOnce(getDb(), "100", OrderLog::kReserved, "3,4");  // not the latest: written
  EXPECT_EQ(rows("100"), (std::vector<std::string>{"0 reserved 3,4", "5 refused " + gbk("#7 旺旺 b 旺旺未能发送"),
                                                   "5 sent " + gbk("#7 旺旺 b 已发送"), "5 reserved 3,4"}));
  EXPECT_EQ(rows("200"), std::vector<std::string>{"5 reserved 5"});
  log_->add(getDb(), "200", OrderLog::kReserved, "5");  // add writes whatever came before
  EXPECT_EQ(rows("200").size(), 2u);
  EXPECT_TRUE(rows("300").empty());

  const Json::Value json = OrderLog::toJson(log_->of(getDb(), "200")[0]);
  EXPECT_EQ(json["step"], Json::Value("reserved"));
  EXPECT_EQ(json["time"], Json::Value(static_cast<int>(kNow + 5)));
  EXPECT_EQ(json["text"], Json::Value("5"));
}

TEST_F(OrderLogStore, EachConnectionStampsWithTheClockOfTheEnvItWasOpenedIn) {
  Env later(std::make_shared<testing::FakeClock>(kNow + 3600));
  later.set(ThreadConnections::instance()->env().get<DatabaseOptions>());
  std::shared_ptr<IDb> other = std::make_shared<Db>(later)->connect();
  log_->add(getDb(), "100", OrderLog::kReserved, "pool");
  log_->add(other, "100", OrderLog::kReserved, "other");
  clock_->advance(7);  // moves only the pool's time
  log_->add(getDb(), "100", OrderLog::kSent, "pool");
  EXPECT_EQ(rows("100"), (std::vector<std::string>{"0 reserved pool", "3600 reserved other", "7 sent pool"}));
}

TEST_F(OrderLogStore, LongTextsAreCutBetweenCharacters) {
  const std::string text = std::string(OrderLog::kMaxText - 1, 'x') + gbk("淺") + "tail";
  log_->add(getDb(), "100", OrderLog::kConsignFailed, text);
  EXPECT_EQ(log_->of(getDb(), "100").at(0).text, std::string(OrderLog::kMaxText - 1, 'x'));
}

TEST_F(OrderLogStore, RowsStandOrFallWithTheWritersTransaction) {
  std::shared_ptr<IDb> db = getDb();
  {
    Savepoint unit(db);
    log_->add(db, "100", OrderLog::kReserved, "1");
  }  // rolled back
  {
    Savepoint unit(db);
    log_->add(db, "100", OrderLog::kReserved, "2");
    unit.release();
  }
  EXPECT_EQ(fileValue("select group_concat(`text`) from `order_log`"), "2");
}

TEST_F(OrderLogStore, MemosAreDueUntilWrittenOrFailed) {
  std::shared_ptr<IDb> db = getDb();
  log_->add(getDb(), "100", OrderLog::kMemoDue, "");
  log_->add(getDb(), "200", OrderLog::kMemoDue, "");
  log_->add(getDb(), "200", OrderLog::kMemoWritten, "HTTP 200");
  log_->add(getDb(), "300", OrderLog::kMemoDue, "");
  log_->add(getDb(), "300", OrderLog::kMemoFailed, "x");
  log_->add(getDb(), "300", OrderLog::kMemoDue, "");  // delivered again after a reset
  EXPECT_EQ(log_->memosDue(db), (std::vector<std::string>{"100", "300"}));
}

TEST_F(OrderLogStore, ADatabaseFromAnOlderTemplateGetsTheTableAtStart) {
  resetProcessWide();
  changeDatabaseOptions([&](DatabaseOptions& options) { options.path = dbPath(); });
  otherConnection()->exec("drop table `order_log`");
  ASSERT_EQ(fileValue("select count(*) from `sqlite_master` where `name`='order_log'"), "0");
  upgradeDatabase();
  EXPECT_EQ(fileValue("select count(*) from `sqlite_master` where `name` in ('order_log','order_log_order_id')"),
            "2");
  upgradeDatabase();  // a database that has it is left alone
  otherConnection()->exec("drop table `order_log`");
  testing::useDatabaseWallTime(clock_);
  OrderLog::instance()->add(getDb(), "1", OrderLog::kReserved, "9");  // the store adds it before its first use
  EXPECT_EQ(fileValue("select `text` from `order_log`"), "9");
}

}  // namespace
}  // namespace Quorvel
