// "getOverview" and the ranges of "getConfig" through a real local server on
// a temporary database, with the clock at a fixed local day.
#include <gtest/gtest.h>

#include "api/StatusActions.h"
#include "base/Charset.h"
#include "port/LocalTime.h"
#include "store/Order.h"
#include "store/OrderStatus.h"
#include "store/SettingRules.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel::testing {
namespace {

class OverviewActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    today_ = port::localDayStart({2026, 3, 30});
    const auto clock = std::make_shared<FakeClock>(today_ + 10 * 3600);
    testing::useDatabaseWallTime(clock);
    daemon_ = std::make_shared<Deamon>(Env(clock));
    registerStatusActions(Env(clock), daemon_);
  }
  void TearDown() override {
    daemon_->stopAndWait();
    StoreFixture::TearDown();
  }

  // An order of `status` whose time is `time`.
  void order(int status, std::int64_t time) {
    std::shared_ptr<IDb> db = getDb();
    const std::string number = std::to_string(1000 + ++orders_);
    Order::instance()->addFound(db, number, "http://trade.test/" + number);
    Order::instance()->setStatus(db, db->lastInsertId(), status);
    db->execute(std::make_shared<SQL>("update `orders` set `time`=? where `order_id`=?")->bind(time)->bind(number));
  }

  static int addCategory(const std::string& name, int unsent, int total) {
    CategoryRecord record;
    record.name = gbk(name);
    Category::instance()->add(getDb(), record);
    Category::instance()->setCounters(getDb(), record.id, unsent, total);
    return record.id;
  }

  std::int64_t today_ = 0;
  int orders_ = 0;
  std::shared_ptr<Deamon> daemon_;
  TestServer server_;
};

TEST_F(OverviewActions, OrdersCountOnTheLocalDayOfTheirTimeOverThirtyDays) {
  const std::int64_t firstDay = port::localDayStart({2026, 3, 1});  // 29 days before today
  order(kOrderDelivered, today_);
  order(kOrderDelivered, today_ + 3600);
  order(orderFailed(1), today_ + 7200);
  order(orderFailed(99), today_ + 7300);
  order(kOrderDelivered, today_ - 1);  // yesterday's last second
  order(kOrderDelivered, firstDay);
  order(orderFailed(4), firstDay + 5);
  order(kOrderDelivered, firstDay - 1);  // one day too old
  order(kOrderDelivered, port::localDayStart({2026, 3, 31}));  // tomorrow
  order(kOrderFound, today_ - 40 * 86400);  // waiting counts whatever its day
  order(kOrderDetailsRead, today_);
  order(kOrderDelivering, today_ - 86400);

  Json::Value reply = callAction(server_.port(), "getOverview");
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["TODAY"]["DELIVERED"], Json::Value(2));
  EXPECT_EQ(reply["TODAY"]["FAILED"], Json::Value(2));
  EXPECT_EQ(reply["TODAY"]["WAITING"], Json::Value(3));
  const Json::Value& days = reply["DAYS"];
  ASSERT_EQ(days.size(), 30u);
  EXPECT_EQ(days[0]["DAY"], Json::Value("2026-03-01"));
  EXPECT_EQ(days[27]["DAY"], Json::Value("2026-03-28"));
  EXPECT_EQ(days[29]["DAY"], Json::Value("2026-03-30"));
  EXPECT_EQ(days[0]["DELIVERED"], Json::Value(1));
  EXPECT_EQ(days[0]["FAILED"], Json::Value(1));
  EXPECT_EQ(days[28]["DELIVERED"], Json::Value(1));
  EXPECT_EQ(days[28]["FAILED"], Json::Value(0));
  EXPECT_EQ(days[29]["DELIVERED"], Json::Value(2));
  int delivered = 0;
  for (const Json::Value& day : days) delivered += day["DELIVERED"].asInt();
  EXPECT_EQ(delivered, 4) << "neither the day too old nor tomorrow";
}

TEST_F(OverviewActions, StockComesFromTheCountersAndTheCardTableIsNeverRead) {
  const int low = addCategory("乕亄匽 话费卡", 2, 10);
  const int enough = addCategory("淺東乛", 5, 5);
  SystemConfig::instance()->set(getDb(), "notice_store_num", "5");
  // Without the card table, any read of it would fail the action.
  getDb()->exec("drop table `items`");
  order(kOrderDelivered, today_);

  Json::Value reply = callAction(server_.port(), "getOverview");
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["LOW_STOCK"], Json::Value(5));
  ASSERT_EQ(reply["STOCK"].size(), 2u);
  EXPECT_EQ(reply["STOCK"][0]["id"], Json::Value(low));
  EXPECT_EQ(reply["STOCK"][0]["name"], Json::Value("乕亄匽 话费卡"));
  EXPECT_EQ(reply["STOCK"][0]["store_num"], Json::Value(2));
  EXPECT_EQ(reply["STOCK"][0]["store_total_num"], Json::Value(10));
  EXPECT_EQ(reply["STOCK"][0]["low"], Json::Value(true));
  EXPECT_EQ(reply["STOCK"][1]["id"], Json::Value(enough));
  EXPECT_EQ(reply["STOCK"][1]["low"], Json::Value(false)) << "five is not under five";

  // The days are read from the index alone.
  auto plan = otherConnection()->query(
      "explain query plan select `time`,`status` from `orders` where `time`>=1 and `time`<2 and "
      "(`status`=2 or `status`>=1000)");
  ASSERT_TRUE(plan->next());
  EXPECT_NE((*plan->fetch())["detail"].toString().find("COVERING INDEX orders_time"), std::string::npos);
}

TEST_F(OverviewActions, NoCategoryAndNoOrderGiveZerosAndEmptyStock) {
  Json::Value reply = callAction(server_.port(), "getOverview");
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1));
  EXPECT_EQ(reply["STOCK"], Json::Value(Json::arrayValue));
  EXPECT_EQ(reply["LOW_STOCK"], Json::Value(0));
  EXPECT_EQ(reply["TODAY"]["WAITING"], Json::Value(0));
  EXPECT_EQ(reply["DAYS"].size(), 30u);
}

TEST_F(OverviewActions, GetConfigNamesTheRangesAndDefaultsBesideTheSettings) {
  SystemConfig::instance()->set(getDb(), "check_order_timeout", "30");
  EXPECT_FALSE(callAction(server_.port(), "getConfig").isMember("RULES")) << "only the form asks for them";
  Json::Value reply = callAction(server_.port(), "getConfig", formOf({{"rules", "1"}}));
  EXPECT_EQ(reply["LIST"]["check_order_timeout"], Json::Value("30"));
  const Json::Value& rules = reply["RULES"];
  EXPECT_EQ(rules["check_order_timeout"]["min"], Json::Value(1));
  EXPECT_EQ(rules["check_order_timeout"]["max"], Json::Value(86400));
  EXPECT_EQ(rules["check_order_timeout"]["unit"], Json::Value("seconds"));
  EXPECT_EQ(rules["check_order_timeout"]["default"], Json::Value("10"));
  EXPECT_EQ(rules["smtp_port"]["max"], Json::Value(65535));
  for (const SettingRule& rule : settingRules()) {
    EXPECT_TRUE(rules.isMember(rule.key)) << rule.key;
    // A default is a value the setting accepts (or empty).
    EXPECT_NO_THROW(validateSetting(rule.key, rules[rule.key]["default"].asString())) << rule.key;
  }
  EXPECT_TRUE(rules["maker_base"]["default"].isString());
  EXPECT_FALSE(rules["maker_base"]["default"].asString().empty());
  EXPECT_FALSE(rules["maker_base"].isMember("min"));
}

}  // namespace
}  // namespace Quorvel::testing
