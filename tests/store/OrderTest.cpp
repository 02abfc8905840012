// The order store on a temporary database, read back through a second
// connection to the file: orders recorded once however often they are
// listed, paging in both directions, goods lines with twelve-digit item ids,
// the JSON the web UI gets, deletes that take the goods lines along or
// nothing at all, and the pipeline's status updates.
#include "store/Order.h"

#include <gtest/gtest.h>

#include "base/Charset.h"
#include "store/OrderStatus.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;

class OrderStore : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    orders_ = Order::instance();
    db_ = getDb();
    file_ = otherConnection();
  }

  // An order recorded and read: status 1 with one goods line per item.
  int addRead(const std::string& number, const std::vector<std::string>& items, int status = kOrderDetailsRead) {
    EXPECT_TRUE(orders_->addFound(db_, number, "http://trade.test/detail?bizOrderId=" + number));
    OrderInfo info;
    info.id = db_->lastInsertId();
    info.buyer = "buyer " + number;
    for (size_t k = 0; k < items.size(); ++k) {
      OrderGoods line;
      line.item_id = items[k];
      line.goods_name = "goods " + std::to_string(k);
      line.num = static_cast<int>(k) + 1;
      line.category_id = 7;
      info.goods.push_back(line);
    }
    orders_->storeDetails(db_, info);
    if (status != kOrderDetailsRead) orders_->setStatus(db_, info.id, status);
    return info.id;
  }

  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>(kNow, true);
  std::shared_ptr<Order> orders_;
  std::shared_ptr<IDb> db_;
  std::shared_ptr<IDb> file_;  // the same file through a connection of its own
};

TEST_F(OrderStore, AListedOrderIsRecordedOnceAndNeverReset) {
  ASSERT_TRUE(orders_->addFound(db_, "111", "http://trade.test/d?bizOrderId=111"));
  const int id = db_->lastInsertId();
  EXPECT_EQ(fileValue("select `status` || ',' || `time` || ',' || `order_url` from `orders` where `id`=" +
                      std::to_string(id)),
            "0," + std::to_string(kNow) + ",http://trade.test/d?bizOrderId=111");

  orders_->setStatus(db_, id, kOrderDelivered);
  clock_->advance(60);
  EXPECT_FALSE(orders_->addFound(db_, "111", "http://elsewhere.test/"));
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "1");
  EXPECT_EQ(fileValue("select `status` || ',' || `time` || ',' || `order_url` from `orders`"),
            "2," + std::to_string(kNow) + ",http://trade.test/d?bizOrderId=111");

  // The table itself refuses a second row, whoever writes it.
  EXPECT_THROW(file_->exec("insert into `orders` (`order_id`) values ('111')"), DbException);
}

TEST_F(OrderStore, PagesCountAndListNewestFirstWithTheStatusFilter) {
  std::vector<int> ids;
  for (int k = 1; k <= 5; ++k) ids.push_back(addRead(std::to_string(k), {"100" + std::to_string(k)}, k % 2 ? 1 : 2));
  // statuses: 1, 2, 1, 2, 1

  EXPECT_EQ(orders_->pageCount(getDb(), -1, 2), 3);
  EXPECT_EQ(orders_->pageCount(getDb(), 1, 2), 2);
  EXPECT_EQ(orders_->pageCount(getDb(), 2, 5), 1);
  EXPECT_EQ(orders_->pageCount(getDb(), 1, 0), 3) << "a page size below 1 counts as 1";
  EXPECT_EQ(orders_->pageCount(getDb(), 1003, 10), 0);
  EXPECT_TRUE(orders_->list(getDb(), 1003, 1, 10, 0).empty());

  std::vector<OrderRecord> first = orders_->list(getDb(), -1, 1, 2, 3);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].id, ids[4]);
  EXPECT_EQ(first[1].id, ids[3]);
  std::vector<OrderRecord> last = orders_->list(getDb(), -1, 9, 2, 3);
  ASSERT_EQ(last.size(), 1u) << "past the last page: the last page";
  EXPECT_EQ(last[0].id, ids[0]);
  EXPECT_EQ(orders_->list(getDb(), -1, -4, 2, 3)[0].id, ids[4]) << "below 1: the first page";

  std::vector<OrderRecord> waiting = orders_->list(getDb(), 1, 2, 2, 2);
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].id, ids[0]);
  EXPECT_EQ(waiting[0].status, 1);
  EXPECT_EQ(waiting[0].buyer, "buyer 1");
  EXPECT_EQ(waiting[0].time, static_cast<int>(kNow));
  ASSERT_EQ(waiting[0].goods.size(), 1u);
  EXPECT_EQ(waiting[0].goods[0].item_id, "1001");
}

TEST_F(OrderStore, TwelveDigitItemIdsAndLinesWithoutOneReadBackWhole) {
  const int id = addRead("9", {"520123456789", "", "2147483648", "42"});
  EXPECT_EQ(fileValue("select group_concat(typeof(`item_id`) || ':' || `item_id`, ' ') from `order_goods`"),
            "integer:520123456789 text: integer:2147483648 integer:42");

  std::vector<OrderGoods> lines = orders_->goodsOf(getDb(), id);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].item_id, "520123456789");
  EXPECT_EQ(lines[1].item_id, "") << "a line without an item id does not fail the order list";
  EXPECT_EQ(lines[2].item_id, "2147483648");
  EXPECT_EQ(lines[3].num, 4);
  EXPECT_EQ(lines[3].category_id, 7);
  EXPECT_EQ(lines[3].goods_name, "goods 3");

  Json::Value goods = Order::toJson(orders_->list(getDb(), -1, 1, 10, 1).at(0))["goods"];
  ASSERT_EQ(goods.size(), 4u);
  EXPECT_TRUE(goods[0]["item_id"].isInt64());
  EXPECT_EQ(goods[0]["item_id"].asInt64(), 520123456789LL);
  EXPECT_EQ(goods[1]["item_id"].asInt64(), 0);
  EXPECT_EQ(goods[2]["item_id"].asInt64(), 2147483648LL);
}

TEST_F(OrderStore, JsonCarriesTheAgreedKeysWithTheMailUnderBuyerMail) {
  OrderRecord order;
  order.id = 3;
  order.order_id = "120815000001";
  order.status = 1003;
  order.order_status = MarketState::kPaid;
  order.time = 1234;
  order.buyer = gbk("東乛買家");
  order.buyer_email = "b@example.com";
  order.buyer_ww = "ww";
  order.send_msg = "s";
  order.text_msg = "t";
  order.order_url = "not shown";
  order.alipay_id = "not shown either";
  order.goods.push_back({"77", gbk("淺匽卡"), 2, "line text", 5});
  Json::Value json = Order::toJson(order);
  EXPECT_EQ(json.getMemberNames(),
            (std::vector<std::string>{"buyer", "buyer_mail", "buyer_ww", "goods", "id", "order_id", "order_status",
                                      "send_msg", "status", "text_msg", "time"}));
  EXPECT_EQ(json["buyer_mail"], Json::Value("b@example.com"));
  EXPECT_EQ(json["buyer"], Json::Value(gbk("東乛買家")));
  EXPECT_EQ(json["status"], Json::Value(1003));
  EXPECT_EQ(json["order_status"], Json::Value(2));
  EXPECT_EQ(json["time"], Json::Value(1234));
  EXPECT_EQ(json["goods"][0].getMemberNames(), (std::vector<std::string>{"category_id", "item_id", "name", "num"}));
  EXPECT_EQ(json["goods"][0]["name"], Json::Value(gbk("淺匽卡")));
  EXPECT_EQ(json["goods"][0]["category_id"], Json::Value(5));
  EXPECT_EQ(json["goods"][0]["num"], Json::Value(2));
  EXPECT_TRUE(Order::toJson(OrderRecord())["goods"].isArray());
}

TEST_F(OrderStore, RemoveTakesTheGoodsAlongOrNothingAtAll) {
  const int kept = addRead("1", {"11", "12"});
  const int gone = addRead("2", {"21", "22"});
  orders_->remove(getDb(), gone);
  EXPECT_EQ(fileValue("select group_concat(`id`) from `orders`"), std::to_string(kept));
  EXPECT_EQ(fileValue("select group_concat(`item_id`) from `order_goods`"), "11,12");

  orders_->remove(getDb(), 9999);  // no such order: nothing changes, nothing is raised
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "2");

  // The goods delete fails after the order row went: both stay.
  file_->exec("create trigger `keep_goods` before delete on `order_goods` begin select raise(abort, 'goods kept'); end;");
  try {
    orders_->remove(getDb(), kept);
    ADD_FAILURE() << "a failed delete must be reported";
  } catch (DbException e) {
    EXPECT_NE(e.message().find("goods kept"), std::string::npos) << e.message();
  }
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "1");
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "2");
}

TEST_F(OrderStore, ResetSendsAnyOrderBackToDeliveryKeepingItsGoods) {
  const int failed = addRead("5", {"51"});
  orders_->setFailed(db_, failed, orderFailed(3), gbk("未找到发货表单"));
  EXPECT_EQ(fileValue("select `status` from `orders`"), "1003");
  const int delivered = addRead("6", {"61"});
  orders_->setDeliveryText(db_, delivered, "text", "sent");
  orders_->setStatus(db_, delivered, kOrderDelivered);

  orders_->reset(getDb(), failed);
  orders_->reset(getDb(), delivered);
  EXPECT_EQ(fileValue("select group_concat(`status` || '[' || `text_msg` || '|' || `send_msg` || ']') from `orders`"),
            "1[|],1[|]");
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "2");
  std::vector<OrderRecord> waiting = orders_->detailsRead(db_);
  ASSERT_EQ(waiting.size(), 2u);
  EXPECT_EQ(waiting[0].id, failed);
  EXPECT_EQ(waiting[0].order_id, "5");
  EXPECT_EQ(waiting[1].order_url, "http://trade.test/detail?bizOrderId=6");
}

TEST_F(OrderStore, DetailsReplaceTheGoodsAndMoveTheOrderOn) {
  orders_->addFound(db_, "2", "u2");
  orders_->addFound(db_, "1", "u1");
  std::vector<OrderRecord> found = orders_->found(db_);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].order_url, "u2") << "id order";
  EXPECT_LT(found[0].id, found[1].id);

  OrderInfo info;
  info.id = found[0].id;
  info.alipay_id = "2012000000000001";
  info.order_status = MarketState::kPaid;
  info.buyer = gbk("亄乕");
  info.buyer_email = "m@example.com";
  info.buyer_ww = gbk("亄乕旺旺");
  info.goods = {{"31", "a", 1, "", 4}, {"32", "b", 2, "", 0}};
  clock_->advance(30);
  orders_->storeDetails(db_, info);
  info.goods = {{"33", "c", 3, "", 9}};
  orders_->storeDetails(db_, info);  // read again: the lines are replaced, not added

  EXPECT_EQ(fileValue("select `alipay_id` || ',' || `status` || ',' || `order_status` || ',' || `buyer_email` || ',' "
                      "|| `time` from `orders` where `id`=" + std::to_string(info.id)),
            "2012000000000001,1,2,m@example.com," + std::to_string(kNow + 30));
  EXPECT_EQ(fileValue("select group_concat(`item_id` || 'x' || `num` || '@' || `category_id`) from `order_goods`"),
            "33x3@9");
  EXPECT_EQ(orders_->list(getDb(), 1, 1, 1, 1).at(0).buyer_ww, gbk("亄乕旺旺"));
  EXPECT_EQ(orders_->found(db_).size(), 1u);

  // Deleted from the web UI while its pages were read: no lines without an order.
  info.id = found[1].id;
  orders_->remove(getDb(), info.id);
  EXPECT_FALSE(orders_->storeDetails(db_, info));
  EXPECT_EQ(fileValue("select count(*) from `order_goods` where `o_id`=" + std::to_string(info.id)), "0");
}

TEST_F(OrderStore, AnOrderBeingDeliveredIsNeitherResetNorDeleted) {
  const int delivering = addRead("100", {"11", "12"}, kOrderDelivering);
  const int delivered = addRead("101", {"13"}, kOrderDelivered);
  EXPECT_THROW(orders_->reset(getDb(), delivering), Exception);
  EXPECT_THROW(orders_->remove(getDb(), delivering), Exception);
  EXPECT_EQ(fileValue("select `status` from `orders` where `id`=" + std::to_string(delivering)), "3");
  EXPECT_EQ(fileValue("select count(*) from `order_goods` where `o_id`=" + std::to_string(delivering)), "2");
  orders_->reset(getDb(), delivered);
  EXPECT_EQ(orders_->statusOf(db_, delivered), kOrderDetailsRead);
  orders_->remove(getDb(), delivered);
  EXPECT_EQ(orders_->statusOf(db_, delivered), -1);
  orders_->reset(getDb(), 424242);  // no such order: nothing happens
}

TEST_F(OrderStore, LineTextsFollowTheLinesAndAReleaseEmptiesThem) {
  const int id = addRead("100", {"11", "12", "13"});
  addRead("101", {"21"});
  orders_->setLineTexts(db_, id, {gbk("甲淺"), "", "c"});
  std::vector<OrderGoods> lines = orders_->loadOrderGoods(db_, id);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text_msg, gbk("甲淺"));
  EXPECT_EQ(lines[1].text_msg, "");
  EXPECT_EQ(lines[2].text_msg, "c");
  EXPECT_EQ(fileValue("select `text_msg` from `order_goods` where `item_id`=21"), "") << "another order's line";

  orders_->setDeliveryText(db_, id, "t", "s");
  orders_->setStatus(db_, id, kOrderDelivering);
  EXPECT_EQ(orders_->delivering(db_).size(), 1u);
  EXPECT_EQ(orders_->delivering(db_)[0].order_id, "100");
  orders_->setReleased(db_, id, orderFailed(4), gbk("发货失败！"));
  const OrderRecord stored = orders_->get(db_, id);
  EXPECT_EQ(stored.status, orderFailed(4));
  EXPECT_EQ(stored.text_msg, gbk("发货失败！"));
  EXPECT_EQ(stored.send_msg, "");
  EXPECT_EQ(stored.order_url, "http://trade.test/detail?bizOrderId=100");
  EXPECT_EQ(fileValue("select group_concat(`text_msg`, '') from `order_goods` where `o_id`=" + std::to_string(id)), "");
  EXPECT_EQ(orders_->get(db_, 999).id, 0);
}

}  // namespace
}  // namespace Quorvel
