// "order" through a real local server on a temporary database: lists with
// and without a status, paging clamps, reset, and deletes that succeed, find
// nothing, or fail and say so.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "api/OrderActions.h"
#include "base/Charset.h"
#include "delivery/OrderStatusText.h"
#include "store/Order.h"
#include "store/OrderLog.h"
#include "store/OrderStatus.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

class OrderActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerOrderActions(Env());
    db_ = getDb();
    file_ = otherConnection();
  }

  Json::Value order(const std::string& action, const std::vector<std::pair<std::string, std::string>>& form = {}) {
    return callAction(server_.port(), "order&action=" + action, formOf(form));
  }

  // A recorded order with its details read and then set to `status`.
  int add(const std::string& number, int status, const std::string& buyer = "b",
          std::vector<OrderGoods> goods = {{"1", "g", 1, "", 0}}) {
    std::shared_ptr<Order> orders = Order::instance();
    orders->addFound(db_, number, "http://trade.test/d?bizOrderId=" + number);
    OrderInfo info;
    info.id = db_->lastInsertId();
    info.buyer = buyer;
    info.buyer_email = number + "@example.com";
    info.goods = std::move(goods);
    orders->storeDetails(db_, info);
    orders->setStatus(db_, info.id, status);
    return info.id;
  }

  static std::vector<int> idsOf(const Json::Value& list) {
    std::vector<int> ids;
    for (const Json::Value& order : list) ids.push_back(order["id"].asInt());
    return ids;
  }

  TestServer server_;
  std::shared_ptr<IDb> db_;
  std::shared_ptr<IDb> file_;
};

TEST_F(OrderActions, ListsEveryOrderWithoutAStatusAndOneStatusWithIt) {
  const int found = add("100", kOrderFound);
  const int waiting = add("101", kOrderDetailsRead, gbk("東乛乕亄"),
                          {{"520123456789", gbk("淺匽乕 点卡"), 2, "", 7}, {"", "no item", 1, "", 0}});
  const int failed = add("102", orderFailed(5));

  Json::Value all = order("lst", {{"page_num", "10"}});
  EXPECT_EQ(all["SUCCESS"], Json::Value(1));
  EXPECT_EQ(all["MSG"], Json::Value("SUCCESS"));
  EXPECT_EQ(idsOf(all["LIST"]), (std::vector<int>{failed, waiting, found})) << "newest first";

  Json::Value one = order("lst", {{"status", "1"}, {"page_num", "10"}});
  ASSERT_EQ(idsOf(one["LIST"]), std::vector<int>{waiting});
  const Json::Value& shown = one["LIST"][0];
  EXPECT_EQ(shown["order_id"], Json::Value("101"));
  EXPECT_EQ(shown["status"], Json::Value(1));
  EXPECT_EQ(shown["buyer"], Json::Value("東乛乕亄")) << "UTF-8 in the answer";
  EXPECT_EQ(shown["buyer_mail"], Json::Value("101@example.com"));
  EXPECT_TRUE(shown["time"].isIntegral());
  ASSERT_EQ(shown["goods"].size(), 2u);
  EXPECT_EQ(shown["goods"][0]["item_id"].asInt64(), 520123456789LL) << "twelve digits, not cut to 32 bits";
  EXPECT_EQ(shown["goods"][0]["name"], Json::Value("淺匽乕 点卡"));
  EXPECT_EQ(shown["goods"][0]["category_id"], Json::Value(7));
  EXPECT_EQ(shown["goods"][0]["num"], Json::Value(2));
  EXPECT_EQ(shown["goods"][1]["item_id"], Json::Value(0));

  // Sent but empty is status 0, not "every order".
  EXPECT_EQ(idsOf(order("lst", {{"status", ""}, {"page_num", "10"}})["LIST"]), std::vector<int>{found});
  EXPECT_EQ(idsOf(order("lst", {{"status", "1005"}, {"page_num", "10"}})["LIST"]), std::vector<int>{failed});
}

TEST_F(OrderActions, GroupsSelectStatusesAndEveryOrderSaysItsStatusInWords) {
  const int found = add("400", kOrderFound);
  const int waiting = add("401", kOrderDetailsRead);
  const int delivering = add("402", kOrderDelivering);
  const int delivered = add("403", kOrderDelivered);
  const int outOfStock = add("404", orderFailed(1));
  const int limit = add("405", orderFailed(6));
  const int generic = add("406", orderFailed(0));
  const int odd = add("407", orderFailed(42));
  const int blocked = add("408", orderFailed(7));
  auto group = [&](const std::string& name) {
    return idsOf(order("lst", {{"group", name}, {"page_num", "20"}})["LIST"]);
  };
  EXPECT_EQ(group("new"), std::vector<int>{found});
  EXPECT_EQ(group("waiting"), std::vector<int>{waiting});
  EXPECT_EQ(group("delivering"), std::vector<int>{delivering});
  EXPECT_EQ(group("delivered"), std::vector<int>{delivered});
  EXPECT_EQ(group("failed"), (std::vector<int>{blocked, odd, generic, limit, outOfStock}));
  EXPECT_EQ(group("all").size(), 9u);
  EXPECT_EQ(order("lst", {{"group", "failed"}, {"page_num", "2"}})["PAGE_MAX"], Json::Value(3));
  // `status` wins over `group`.
  EXPECT_EQ(idsOf(order("lst", {{"group", "failed"}, {"status", "2"}})["LIST"]), std::vector<int>{delivered});

  Json::Value unknown = order("lst", {{"group", "shipped' or 1=1"}});
  EXPECT_EQ(unknown["SUCCESS"], Json::Value(0));
  EXPECT_NE(unknown["MSG"].asString().find("未知的订单分组"), std::string::npos);
  EXPECT_FALSE(unknown.isMember("LIST"));

  std::map<int, std::string> words;
  const Json::Value listed = order("lst", {{"page_num", "20"}});
  for (const Json::Value& shown : listed["LIST"]) {
    words[shown["id"].asInt()] = shown["status_text"].asString();
  }
  EXPECT_EQ(words[found], "新订单（等待读取订单详情）");
  EXPECT_EQ(words[waiting], "等待发货");
  EXPECT_EQ(words[delivering].rfind("发货中", 0), 0u) << words[delivering];
  EXPECT_EQ(words[delivered], "已发货");
  EXPECT_EQ(words[outOfStock], "发货失败：库存不足（代码 1）");
  EXPECT_EQ(words[limit], "发货失败：超过单件购买限制（代码 6）");
  EXPECT_EQ(words[blocked], "发货失败：买家在黑名单中（代码 7）");
  EXPECT_EQ(words[generic].rfind("发货失败：发货出错", 0), 0u) << words[generic];
  EXPECT_EQ(words[odd], "发货失败：原因代码 42");
  // Every reason the delivery writes has words of its own.
  std::set<std::string> distinct;
  for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 99}) distinct.insert(orderStatusText(orderFailed(code)));
  EXPECT_EQ(distinct.size(), 9u);
  EXPECT_EQ(orderStatusText(17), gbk("未知状态 17"));
}

TEST_F(OrderActions, PagingClampsThePageAndThePageSize) {
  Json::Value none = order("lst", {{"status", "2"}, {"page_num", "5"}, {"page", "3"}});
  EXPECT_EQ(none["SUCCESS"], Json::Value(1));
  EXPECT_EQ(none["PAGE"], Json::Value(0));
  EXPECT_EQ(none["PAGE_MAX"], Json::Value(0));
  EXPECT_EQ(none["PAGE_NUM"], Json::Value(5));
  EXPECT_TRUE(none.isMember("LIST"));
  EXPECT_TRUE(none["LIST"].isNull());

  std::vector<int> ids;
  for (int k = 0; k < 5; ++k) ids.push_back(add(std::to_string(200 + k), kOrderDelivered));
  Json::Value last = order("lst", {{"page_num", "2"}, {"page", "9"}});
  EXPECT_EQ(last["PAGE"], Json::Value(3));
  EXPECT_EQ(last["PAGE_MAX"], Json::Value(3));
  EXPECT_EQ(idsOf(last["LIST"]), std::vector<int>{ids[0]});

  for (const std::string& size : {std::string("0"), std::string(""), std::string("-4")}) {
    Json::Value single = order("lst", {{"page_num", size}, {"page", "0"}});
    EXPECT_EQ(single["PAGE_NUM"], Json::Value(1)) << size;
    EXPECT_EQ(single["PAGE"], Json::Value(1));
    EXPECT_EQ(single["PAGE_MAX"], Json::Value(5));
    EXPECT_EQ(idsOf(single["LIST"]), std::vector<int>{ids[4]});
  }
  Json::Value noSize = order("lst", {{"page", "2"}});
  EXPECT_EQ(idsOf(noSize["LIST"]), std::vector<int>{ids[3]});
}

TEST_F(OrderActions, ResetPutsAFailedOrderBackWithItsGoods) {
  const int failed = add("300", orderFailed(3), "b", {{"9", "g", 2, "", 4}});
  Order::instance()->setFailed(db_, failed, orderFailed(3), gbk("未找到发货表单"));
  EXPECT_TRUE(order("lst", {{"status", "1"}})["LIST"].isNull());

  Json::Value reset = order("reset", {{"id", std::to_string(failed)}});
  EXPECT_EQ(reset["SUCCESS"], Json::Value(1));
  EXPECT_EQ(fileValue("select `status` || '[' || `text_msg` || '|' || `send_msg` || ']' from `orders`"), "1[|]");
  Json::Value waiting = order("lst", {{"status", "1"}});
  ASSERT_EQ(idsOf(waiting["LIST"]), std::vector<int>{failed});
  EXPECT_EQ(waiting["LIST"][0]["goods"][0]["num"], Json::Value(2));
}

TEST_F(OrderActions, DeleteTakesTheGoodsAlongAndAFailedDeleteSaysSo) {
  const int kept = add("400", kOrderDelivered);
  const int gone = add("401", kOrderDelivered, "b", {{"1", "a", 1, "", 0}, {"2", "b", 1, "", 0}});
  EXPECT_EQ(order("del", {{"id", std::to_string(gone)}})["SUCCESS"], Json::Value(1));
  EXPECT_EQ(fileValue("select group_concat(`id`) from `orders`"), std::to_string(kept));
  EXPECT_EQ(fileValue("select count(*) from `order_goods` where `o_id`=" + std::to_string(gone)), "0");

  Json::Value ghost = order("del", {{"id", "9999"}});
  EXPECT_EQ(ghost["SUCCESS"], Json::Value(1));
  EXPECT_EQ(ghost["MSG"], Json::Value("SUCCESS"));

  file_->exec("create trigger `keep_goods` before delete on `order_goods` begin select raise(abort, 'goods kept'); end;");
  Json::Value refused = order("del", {{"id", std::to_string(kept)}});
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("goods kept"), std::string::npos) << refused["MSG"].asString();
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "1");
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "1");

  // Ids are read strictly: nothing that only starts with a number.
  for (const std::string& id : {std::to_string(kept) + " OR 1=1", std::string(""), std::string("-1")}) {
    EXPECT_EQ(order("del", {{"id", id}})["SUCCESS"], Json::Value(0)) << id;
    EXPECT_EQ(order("reset", {{"id", id}})["SUCCESS"], Json::Value(0)) << id;
  }
  EXPECT_EQ(fileValue("select `status` from `orders`"), "2");

  // Unknown and missing sub-actions delete nothing, and say so.
  EXPECT_EQ(order("nothing", {{"id", std::to_string(kept)}})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(order("", {})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "1");
}

TEST_F(OrderActions, AnOrderBeingDeliveredIsNeitherResetNorDeletedAndSaysWhy) {
  const int delivering = add("500", kOrderDelivering);
  for (const char* action : {"reset", "del"}) {
    Json::Value answer = order(action, {{"id", std::to_string(delivering)}});
    EXPECT_EQ(answer["SUCCESS"], Json::Value(0)) << action;
    EXPECT_NE(answer["MSG"].asString().find("正在发货中"), std::string::npos) << answer["MSG"].asString();
  }
  EXPECT_EQ(fileValue("select `status` from `orders`"), "3");
  Json::Value listed = order("lst", {{"status", "3"}});
  ASSERT_EQ(idsOf(listed["LIST"]), std::vector<int>{delivering});
  EXPECT_EQ(listed["LIST"][0]["status"], Json::Value(3));
}

TEST_F(OrderActions, LogAnswersTheOrdersStepsOldestFirst) {
  const int id = add("600", kOrderDelivered);
  add("601", kOrderDelivered);
  std::shared_ptr<OrderLog> log = OrderLog::instance();
  log->add(getDb(), "600", OrderLog::kReserved, "3,4");
  log->add(getDb(), "601", OrderLog::kReserved, "5");
  log->add(getDb(), "600", OrderLog::kSent, gbk("#7 邮件 b@example.com 淺"));
  Json::Value answer = order("log", {{"id", std::to_string(id)}});
  ASSERT_EQ(answer["SUCCESS"], Json::Value(1)) << answer["MSG"].asString();
  EXPECT_EQ(answer["ORDER_ID"], Json::Value("600"));
  ASSERT_EQ(answer["LIST"].size(), 2u);
  EXPECT_EQ(answer["LIST"][0]["step"], Json::Value("reserved"));
  EXPECT_EQ(answer["LIST"][0]["text"], Json::Value("3,4"));
  EXPECT_TRUE(answer["LIST"][0]["time"].isIntegral());
  EXPECT_EQ(answer["LIST"][1]["text"], Json::Value("#7 邮件 b@example.com 淺")) << "UTF-8 in the answer";

  Json::Value quiet = order("log", {{"id", std::to_string(add("602", kOrderDetailsRead))}});
  EXPECT_EQ(quiet["SUCCESS"], Json::Value(1));
  EXPECT_TRUE(quiet["LIST"].isArray());
  EXPECT_EQ(quiet["LIST"].size(), 0u);
  EXPECT_EQ(order("log", {{"id", "9999"}})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(order("log", {{"id", "1 or 1=1"}})["SUCCESS"], Json::Value(0));
}

}  // namespace
}  // namespace Quorvel::testing
