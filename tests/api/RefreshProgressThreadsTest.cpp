// "getStatus" "REFRESH" while a goods refresh runs on another thread and the
// marketplace holds a page back: the status answers at once with the pages
// read so far, and tells how the refresh ended, failure message included.
#include <gtest/gtest.h>

#include <thread>

#include "api/StatusActions.h"
#include "base/Exception.h"
#include "store/Goods.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Gate.h"

namespace Quorvel::testing {
namespace {

// Three items a page; page `holdAt` waits at `gate` until it is opened;
// page `failAt` raises; pages past `last` are empty.
class SlowSource : public GoodsSource {
 public:
  SlowSource() { gate.close(); }
  std::vector<GoodsRecord> page(int page) override {
    if (page == holdAt) gate.pass();
    if (page == failAt) throw Exception("page " + std::to_string(page) + " could not be read");
    if (page > last) return {};
    std::vector<GoodsRecord> items;
    for (int k = 0; k < 3; ++k) {
      const std::string id = std::to_string(page * 10 + k);
      items.push_back({id, "item " + id, "http://item/" + id, ""});
    }
    return items;
  }

  Gate gate;
  int holdAt = 0;
  int failAt = 0;
  int last = 3;
};

class RefreshProgressThreads : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    daemon_ = std::make_shared<Deamon>(Env(clock_));
    registerStatusActions(Env(clock_), daemon_);
  }
  void TearDown() override {
    daemon_->stopAndWait();
    StoreFixture::TearDown();
  }
  Json::Value refreshStatus() { return callAction(server_.port(), "getStatus")["REFRESH"]; }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(1'800'000'000);
  std::shared_ptr<Deamon> daemon_;
  TestServer server_;
};

TEST_F(RefreshProgressThreads, StatusShowsThePagesReadWhileAPageIsHeldAndTheEndAfter) {
  Json::Value before = refreshStatus();
  EXPECT_EQ(before["RUNNING"], Json::Value(false));
  EXPECT_EQ(before["PAGES"], Json::Value(0));
  EXPECT_EQ(before["FINISHED"], Json::Value(0));
  EXPECT_EQ(before["MSG"], Json::Value(""));

  auto source = std::make_shared<SlowSource>();
  source->holdAt = 3;
  std::shared_ptr<Goods> goods = Goods::instance();
  std::thread refresh([goods, source] { goods->refresh(getDb(), *source); });
  ASSERT_TRUE(source->gate.waitHeld(1));
  Json::Value during = refreshStatus();
  source->gate.open();
  refresh.join();
  EXPECT_EQ(during["RUNNING"], Json::Value(true));
  EXPECT_EQ(during["PAGES"], Json::Value(2));
  EXPECT_EQ(during["ITEMS"], Json::Value(6));

  Json::Value after = refreshStatus();
  EXPECT_EQ(after["RUNNING"], Json::Value(false));
  EXPECT_EQ(after["PAGES"], Json::Value(3));
  EXPECT_EQ(after["ITEMS"], Json::Value(9));
  EXPECT_EQ(after["FINISHED"], Json::Value(1'800'000'000));
  EXPECT_EQ(after["MSG"], Json::Value(""));
  EXPECT_EQ(goods->items().size(), 9u);
}

TEST_F(RefreshProgressThreads, AFailedRefreshSaysWhyAndTheNextOneStartsAfresh) {
  auto failing = std::make_shared<SlowSource>();
  failing->failAt = 2;
  Goods::instance()->refresh(getDb(), *failing);
  Json::Value failed = refreshStatus();
  EXPECT_EQ(failed["RUNNING"], Json::Value(false));
  EXPECT_EQ(failed["PAGES"], Json::Value(1));
  EXPECT_EQ(failed["MSG"], Json::Value("page 2 could not be read"));

  clock_->advance(60);
  SlowSource next;
  Goods::instance()->refresh(getDb(), next);
  Json::Value again = refreshStatus();
  EXPECT_EQ(again["PAGES"], Json::Value(3));
  EXPECT_EQ(again["MSG"], Json::Value(""));
  EXPECT_EQ(again["FINISHED"], Json::Value(1'800'000'060));
}

}  // namespace
}  // namespace Quorvel::testing
