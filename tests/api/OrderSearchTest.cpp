// The order search, export and card look-up of "order" through a real local
// server: what `q` finds (and, being literal and by first characters, what it
// does not), the local-day range, their mix with the groups and the paging,
// the CSV, the cards of an order, and the indexes an older database gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/OrderActions.h"
#include "base/Charset.h"
#include "port/LocalTime.h"
#include "store/DatabaseFile.h"
#include "store/Item.h"
#include "store/Order.h"
#include "store/OrderStatus.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

class OrderSearch : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerOrderActions(Env());
    db_ = getDb();
    cg_ = addCategory("cards");
  }

  Json::Value order(const std::string& action, const std::vector<std::pair<std::string, std::string>>& form = {}) {
    return callAction(server_.port(), "order&action=" + action, formOf(form));
  }

  // An order with its details read, one goods line of category cg_, then set
  // to `status`; texts are UTF-8.
  int add(const std::string& number, int status, const std::string& buyer, const std::string& email,
          const std::string& goodsName = "goods") {
    std::shared_ptr<Order> orders = Order::instance();
    orders->addFound(db_, number, "http://trade.test/d?bizOrderId=" + number);
    OrderInfo info;
    info.id = db_->lastInsertId();
    info.buyer = gbk(buyer);
    info.buyer_email = gbk(email);
    info.goods = {{"1", gbk(goodsName), 2, "", cg_}};
    orders->storeDetails(db_, info);
    orders->setStatus(db_, info.id, status);
    return info.id;
  }
  void setTime(int id, std::int64_t time) {
    db_->execute(std::make_shared<SQL>("update `orders` set `time`=? where `id`=?")->bind(time)->bind(id));
  }

  // The ids of a "lst" answer, newest first.
  std::vector<int> found(const std::vector<std::pair<std::string, std::string>>& form) {
    auto all = form;
    all.emplace_back("page_num", "50");
    Json::Value reply = order("lst", all);
    EXPECT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
    std::vector<int> ids;
    for (const Json::Value& row : reply["LIST"]) ids.push_back(row["id"].asInt());
    return ids;
  }
  std::vector<int> search(const std::string& q) { return found({{"q", q}}); }

  TestServer server_;
  std::shared_ptr<IDb> db_;
  int cg_ = 0;
};

TEST_F(OrderSearch, FindsAnOrderByTheFirstCharactersOfItsNumberBuyerEmailOrDeliveredCard) {
  const int first = add("3001001", kOrderDelivered, "张三", "zs@example.com");
  const int second = add("3001002", kOrderDelivered, "李四", "ls@example.com");
  const int literal = add("4002001", kOrderDetailsRead, "100%_off", "Mixed@Example.com");
  addCard(cg_, "CARD-AAA", "pw", Item::deliveredMark("3001002"));
  addCard(cg_, "CARD-AAA-2", "pw");                      // unsent: points at no order
  addCard(cg_, "CARD-BBB", "pw", "sent by hand 4002001");  // not a delivery's mark

  EXPECT_EQ(search("300100"), (std::vector<int>{second, first}));
  EXPECT_EQ(search("3001001"), std::vector<int>{first});
  EXPECT_EQ(search("张"), std::vector<int>{first});
  EXPECT_EQ(search("  张三\t"), std::vector<int>{first}) << "spaces around the text are dropped";
  EXPECT_EQ(search("ls@"), std::vector<int>{second});
  EXPECT_EQ(search("CARD-AAA"), std::vector<int>{second}) << "the delivered card only";
  EXPECT_EQ(search("CARD-BBB"), std::vector<int>{});
  EXPECT_EQ(search("100%_"), std::vector<int>{literal});
  EXPECT_EQ(search("%"), std::vector<int>{}) << "no wildcard";
  EXPECT_EQ(search("_"), std::vector<int>{});
  EXPECT_EQ(search("001"), std::vector<int>{}) << "first characters, not anywhere";
  EXPECT_EQ(search("mixed@"), std::vector<int>{}) << "case counts";
  EXPECT_EQ(search(""), (std::vector<int>{literal, second, first}));

  // With the groups and the paging.
  EXPECT_EQ(found({{"q", "3"}, {"group", "waiting"}}), std::vector<int>{});
  EXPECT_EQ(found({{"q", "4"}, {"group", "waiting"}}), std::vector<int>{literal});
  Json::Value page = order("lst", {{"q", "3001"}, {"group", "delivered"}, {"page_num", "1"}, {"page", "9"}});
  EXPECT_EQ(page["PAGE_MAX"], Json::Value(2));
  EXPECT_EQ(page["PAGE"], Json::Value(2));
  ASSERT_EQ(page["LIST"].size(), 1u);
  EXPECT_EQ(page["LIST"][0]["id"].asInt(), first);
  Json::Value none = order("lst", {{"q", "999"}});
  EXPECT_EQ(none["PAGE"], Json::Value(0));
  EXPECT_TRUE(none["LIST"].isNull());
}

TEST_F(OrderSearch, DatesFilterOnLocalDaysWithBothEndsIncluded) {
  const std::int64_t next = port::localDayStart({2026, 3, 29});
  const std::int64_t after = port::localDayStart({2026, 3, 30});
  const int late = add("1", kOrderDelivered, "a", "a@x");
  const int midnight = add("2", kOrderDelivered, "b", "b@x");
  const int later = add("3", kOrderFound, "c", "c@x");
  setTime(late, next - 1);
  setTime(midnight, next);
  setTime(later, after + 12 * 3600);

  EXPECT_EQ(found({{"from", "2026-03-29"}, {"to", "2026-03-29"}}), std::vector<int>{midnight});
  EXPECT_EQ(found({{"from", "2026-03-28"}, {"to", "2026-03-29"}}), (std::vector<int>{midnight, late}));
  EXPECT_EQ(found({{"from", "2026-03-29"}}), (std::vector<int>{later, midnight}));
  EXPECT_EQ(found({{"to", "2026-03-28"}}), std::vector<int>{late});
  EXPECT_EQ(found({{"from", "2026-03-01"}, {"group", "delivered"}, {"q", "2"}}), std::vector<int>{midnight});
}

// A text thousands of orders start with is read another way (walking the
// table, or the time range); the answers are the same orders.
TEST_F(OrderSearch, ATextManyOrdersStartWithFindsTheSameOrdersInEveryRange) {
  const std::int64_t day = port::localDayStart({2026, 6, 1});
  // Orders 1..2400: buyer "buyer" + id, one every hour from the day on,
  // every third failed.
  db_->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<2400) insert into `orders` "
            "(`id`,`order_id`,`time`,`status`,`buyer`) select i, 'N'||i, " + std::to_string(day) +
            " + i * 3600, case when i % 3 = 0 then 1001 else 2 end, 'buyer'||i from n");
  Json::Value all = order("lst", {{"q", "buyer"}, {"page_num", "20"}, {"page", "3"}});
  EXPECT_EQ(all["PAGE_MAX"], Json::Value(120));
  ASSERT_EQ(all["LIST"].size(), 20u);
  EXPECT_EQ(all["LIST"][0]["id"].asInt(), 2360) << "newest first, page 3";
  EXPECT_EQ(all["LIST"][19]["id"].asInt(), 2341);

  // Days 2 to 3 (both included): hours 24..71 after the first day's start.
  const std::string from = port::dateText(port::localDateOf(day + 24 * 3600));
  const std::string to = port::dateText(port::localDateOf(day + 71 * 3600));
  std::vector<int> expected;
  for (int id = 71; id >= 24; --id) {
    if (id % 3 == 0) expected.push_back(id);
  }
  EXPECT_EQ(found({{"q", "buyer"}, {"from", from}, {"to", to}, {"group", "failed"}}), expected);
  EXPECT_EQ(found({{"q", "buyer2"}, {"from", from}, {"to", to}, {"group", "failed"}}), (std::vector<int>{27, 24}));
  Json::Value failed = order("lst", {{"q", "buyer1"}, {"group", "failed"}, {"page_num", "1000"}});
  EXPECT_EQ(failed["LIST"].size(), 369u) << "1, 1x, 1xx and 1xxx whose id is a multiple of 3";
  EXPECT_EQ(order("export", {{"q", "buyer"}})["COUNT"], Json::Value(2400));
}

TEST_F(OrderSearch, RefusesDatesAndTextsItCannotSearchWith) {
  add("1", kOrderDelivered, "a", "a@x");
  for (const auto& form : std::vector<std::vector<std::pair<std::string, std::string>>>{
           {{"from", "2026-13-01"}},
           {{"to", "2026-02-30"}},
           {{"from", "20261201"}},
           {{"from", "2026-1-1"}},
           {{"to", "yesterday"}},
           {{"from", "2026-12-09"}, {"to", "2026-12-08"}},
           {{"q", std::string(101, '1')}},
       }) {
    for (const char* action : {"lst", "export"}) {
      Json::Value reply = order(action, form);
      EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << action << " " << formOf(form);
      EXPECT_NE(reply["MSG"].asString().find("未查询"), std::string::npos) << reply["MSG"].asString();
      EXPECT_FALSE(reply.isMember("LIST") || reply.isMember("CSV"));
    }
  }
  EXPECT_EQ(search(std::string(100, '1')), std::vector<int>{}) << "100 bytes are searched";
}

// The fields of one CSV text (RFC 4180), row by row.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (quoted) {
      if (c == '"' && k + 1 < text.size() && text[k + 1] == '"') {
        field += '"';
        ++k;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && k + 1 < text.size() && text[k + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++k;
    } else {
      field += c;
    }
  }
  if (rows.back().empty() && field.empty()) rows.pop_back();
  return rows;
}

TEST_F(OrderSearch, ExportWritesTheSearchedOrdersAsCsvWithTheirCards) {
  const int plain = add("5001", kOrderDelivered, "王五", "ww@example.com", "点卡, 100 元");
  add("5002", orderFailed(1), "=HYPERLINK(\"x\")", "@evil", "-1+1");
  add("6001", kOrderDelivered, "other", "o@x");
  addCard(cg_, "K1", "P1", Item::deliveredMark("5001"));
  addCard(cg_, "K2", "", Item::deliveredMark("5001"));
  addCard(cg_, "K3", "P3", Item::deliveredMark("6001"));

  Json::Value reply = order("export", {{"q", "500"}});
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["COUNT"], Json::Value(2));
  EXPECT_EQ(reply["TOTAL"], Json::Value(2));
  const std::string csv = reply["CSV"].asString();
  EXPECT_NE(csv.find("\r\n"), std::string::npos);
  const auto rows = parseCsv(csv);
  ASSERT_EQ(rows.size(), 3u) << csv;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"时间", "订单号", "买家", "买家邮箱", "宝贝", "状态", "发货卡密"}));
  // Newest first: the failed order, its marketplace texts kept from running
  // as formulas.
  EXPECT_EQ(rows[1][1], "5002");
  EXPECT_EQ(rows[1][2], "'=HYPERLINK(\"x\")");
  EXPECT_EQ(rows[1][3], "'@evil");
  EXPECT_EQ(rows[1][4], "'-1+1 × 2");
  EXPECT_EQ(rows[1][5].rfind("发货失败：库存不足", 0), 0u) << rows[1][5];
  EXPECT_EQ(rows[1][6], "");
  EXPECT_EQ(rows[2][1], "5001");
  EXPECT_EQ(rows[2][2], "王五");
  EXPECT_EQ(rows[2][4], "点卡, 100 元 × 2");
  EXPECT_EQ(rows[2][5], "已发货");
  EXPECT_EQ(rows[2][6], "K1 P1\nK2");
  EXPECT_EQ(rows[2][0].size(), 19u) << "YYYY-MM-DD HH:MM:SS: " << rows[2][0];

  Json::Value empty = order("export", {{"q", "nobody"}});
  EXPECT_EQ(empty["COUNT"], Json::Value(0));
  EXPECT_EQ(parseCsv(empty["CSV"].asString()).size(), 1u) << "the header alone";
}

TEST_F(OrderSearch, AnOrderListsTheCardsItReceivedOrHoldsReserved) {
  const int other = addCategory("other");
  const int id = add("7001", kOrderDelivered, "a", "a@x");
  add("7002", kOrderDelivered, "b", "b@x");
  // A second goods line of another category.
  OrderInfo info;
  info.id = id;
  info.goods = {{"1", "g", 1, "", cg_}, {"2", "h", 1, "", other}};
  Order::instance()->storeDetails(db_, info);
  const CardRecord sent = addCard(cg_, "S1", "p", Item::deliveredMark("7001"));
  const CardRecord reserved = addCard(other, "R1", "p", Item::reservedMark("7001"));
  addCard(cg_, "S2", "p", Item::deliveredMark("7002"));
  addCard(cg_, "U1", "p");

  Json::Value reply = order("cards", {{"id", std::to_string(id)}});
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["ORDER_ID"], Json::Value("7001"));
  ASSERT_EQ(reply["LIST"].size(), 2u);
  EXPECT_EQ(reply["LIST"][0]["id"].asInt(), sent.id);
  EXPECT_EQ(reply["LIST"][1]["id"].asInt(), reserved.id);
  EXPECT_EQ(reply["LIST"][1]["data1"], Json::Value("R1"));

  EXPECT_EQ(Item::orderNumberOf(Item::deliveredMark("7001")), "7001");
  EXPECT_EQ(Item::orderNumberOf(Item::reservedMark("7001")), "7001");
  EXPECT_EQ(Item::orderNumberOf("sent by hand"), "");
  EXPECT_EQ(Item::orderNumberOf(Item::deliveredMark("")), "");

  Json::Value missing = order("cards", {{"id", "999"}});
  EXPECT_EQ(missing["SUCCESS"], Json::Value(0));
  EXPECT_NE(missing["MSG"].asString().find("订单不存在"), std::string::npos);
  EXPECT_EQ(order("cards", {{"id", "1 or 1=1"}})["SUCCESS"], Json::Value(0));
}

TEST_F(OrderSearch, AnOlderDatabaseGetsTheSearchIndexesAtStart) {
  db_->exec("drop index `orders_buyer`; drop index `orders_buyer_email`;");
  releaseDb();
  upgradeDatabase();
  EXPECT_EQ(count("select count(*) as `num` from `sqlite_master` where `type`='index' and `name` in "
                  "('orders_buyer','orders_buyer_email')"),
            2);
}

}  // namespace
}  // namespace Quorvel::testing
