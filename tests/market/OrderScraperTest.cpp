// Paid-order discovery and detail reading against the in-process marketplace
// simulator, and against a loopback server where a page must fail: the login
// box, orders recorded once over many ticks, the marketplace states, goods
// lines with their quantities, item ids and categories, the seller notice,
// and orders whose pages cannot be read. Names carry GBK characters whose
// second byte is a pattern character.
#include "market/OrderScraper.h"

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "base/Charset.h"
#include "delivery/Deamon.h"
#include "delivery/OrderIntake.h"
#include "delivery/MarketPipeline.h"
#include "market/AuthException.h"
#include "market/CookieJar.h"
#include "market/CurlException.h"
#include "sim/MarketSim.h"
#include "store/GoodsCategoryMap.h"
#include "store/SystemConfig.h"
#include "tests/market/SimStoreFixture.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

constexpr std::int64_t kNow = testing::kSimStoreNow;

class OrderScraperOnSim : public testing::SimStoreFixture {
 protected:
  std::string addItem(const std::string& title, const std::string& id = "") {
    return sim_->shop().addItem({id, title, "9.90", ""}).id;
  }

  SimOrder place(const std::string& buyer, std::vector<std::pair<std::string, int>> lines, int state = kSimPaid) {
    SimOrderRequest wanted;
    wanted.buyer = buyer;
    wanted.email = "buyer@example.com";
    wanted.lines = std::move(lines);
    wanted.state = state;
    return sim_->shop().addOrder(wanted);
  }

  void tick() {
    intake_.fetchPaidOrders(db_);
    intake_.parseNewOrders(db_);
  }

  std::string ofOrder(const std::string& columns, const std::string& number) {
    return fileValue("select " + columns + " from `orders` where `order_id`='" + number + "'");
  }

  // The texts of the seller notices queued so far.
  std::vector<std::string> notices() {
    std::vector<std::string> texts;
    auto rows = file_->query("select `msg`, `to` from `msg_queue` where `type`=1 order by `id`");
    while (rows->next()) texts.push_back((*rows->fetch())["msg"].toString());
    return texts;
  }

  OrderIntake intake_{env_};
};

TEST_F(OrderScraperOnSim, TheLoginBoxRaisesAndRecordsNothing) {
  place("b", {{addItem("card"), 1}});
  sim_->shop().setOpen(false);  // no session: every seller page shows the login box
  try {
    intake_.fetchPaidOrders(db_);
    ADD_FAILURE() << "no AuthException";
  } catch (AuthException e) {
    EXPECT_EQ(e.message(), gbk("请重新登录"));
    EXPECT_EQ(e.code(), 1);
  }
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "0");
}

TEST_F(OrderScraperOnSim, ListedOrdersAreRecordedOnceOverManyTicksAndNotResetAfterwards) {
  const std::string item = addItem("card");
  SimOrder first = place("b1", {{item, 1}});
  SimOrder second = place("b2", {{item, 2}});
  place("b3", {{item, 1}}, kSimCompleted);  // not on the paid list

  intake_.fetchPaidOrders(db_);
  EXPECT_EQ(fileValue("select group_concat(`order_id` || ':' || `status`) from `orders` order by `id`"),
            second.id + ":0," + first.id + ":0") << "in list order, newest first";
  EXPECT_EQ(ofOrder("`order_url`", first.id),
            sim_->baseUrl() + "/trade/detail/trade_item_detail.htm?bizOrderId=" + first.id);
  EXPECT_EQ(ofOrder("`time`", first.id), std::to_string(kNow));

  intake_.parseNewOrders(db_);
  for (int k = 0; k < 5; ++k) {
    clock_->advance(10);
    tick();
  }
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "2");
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "2") << "details read once";
  EXPECT_EQ(ofOrder("`status`", first.id), "1");
  EXPECT_EQ(ofOrder("`time`", first.id), std::to_string(kNow)) << "a known order is not touched again";
}

TEST_F(OrderScraperOnSim, StateTextsBetweenLineBreaksAndTabsAreRead) {
  const std::string item = addItem("card");
  SimOrder paid = place("b1", {{item, 1}});
  SimOrder closing = place("b2", {{item, 1}});
  tick();
  EXPECT_EQ(ofOrder("`order_status`", paid.id), "2");

  // Read again by the delivery just before it delivers.
  ASSERT_TRUE(sim_->shop().setOrderState(closing.id, kSimClosed));
  const std::string url = ofOrder("`order_url`", closing.id);
  EXPECT_EQ(OrderScraper::parseOrderDetail(env_, 7, url).order_status, MarketState::kClosed);
  ASSERT_TRUE(sim_->shop().setOrderState(closing.id, kSimShipped));
  EXPECT_EQ(OrderScraper::parseOrderDetail(env_, 7, url).order_status, MarketState::kShipped);
  ASSERT_TRUE(sim_->shop().setOrderState(closing.id, kSimCompleted));
  EXPECT_EQ(OrderScraper::parseOrderDetail(env_, 7, url).order_status, MarketState::kCompleted);
  ASSERT_TRUE(sim_->shop().setOrderState(closing.id, kSimWaitingPayment));
  EXPECT_EQ(OrderScraper::parseOrderDetail(env_, 7, url).order_status, MarketState::kAwaitingPayment);
}

// The snapshot pattern's hosts are settings: a store is needed even here.
using DetailPage = StoreFixture;

TEST_F(DetailPage, OnlyTheWholeStateTextCounts) {
  const std::string head = gbk("当前订单状态：") + "<span class=\"wait\">";
  const std::pair<std::string, MarketState> pages[] = {
      {head + "\r\n\t " + gbk("买家已付款，等待卖家发货") + " \r\n</span>", MarketState::kPaid},
      {head + gbk("交易关闭") + "</span>", MarketState::kClosed},
      {head + gbk("买家已付款，等待卖家发货了") + "</span>", MarketState::kUnknown},
      {head + gbk("买家已付款， 等待卖家发货") + "</span>", MarketState::kUnknown},
      {head + gbk("交易") + "</span>", MarketState::kUnknown},
      {head + "</span>" + gbk("交易关闭"), MarketState::kUnknown},
      {gbk("当前状态：") + "<span class=\"wait\">" + gbk("交易关闭") + "</span>", MarketState::kUnknown},
      {"", MarketState::kUnknown},
  };
  for (const auto& [page, state] : pages) EXPECT_EQ(OrderScraper::readDetailPage(1, page).info.order_status, state) << page;
}

TEST_F(OrderScraperOnSim, GoodsLinesTakeTheFirstQuantitiesTheirItemIdsAndTheirCategories) {
  const std::string bound = addItem(gbk("淺亄匽 点卡"), "520123456789");
  const std::string unbound = addItem(gbk("東乛乕 月卡"));
  GoodsCategoryMap::instance()->bind(getDb(), bound, 7);
  SimOrder order = place(gbk("東乛乕買家"), {{bound, 2}, {unbound, 3}});
  tick();

  // Two snapshot links (each also linked from its picture), three quantity
  // cells (the third is the total), a recommended snapshot elsewhere.
  EXPECT_EQ(fileValue("select group_concat(`item_id` || '|' || `goods_name` || '|' || `num` || '|' || `category_id` "
                      "|| '|' || `text_msg`, ';') from `order_goods`"),
            "520123456789|" + gbk("淺亄匽 点卡") + "|2|7|;" + unbound + "|" + gbk("東乛乕 月卡") + "|3|0|");
  EXPECT_EQ(ofOrder("`status` || ',' || `order_status` || ',' || `buyer` || ',' || `buyer_email` || ',' || "
                    "`buyer_ww` || ',' || `alipay_id`",
                    order.id),
            "1,2," + gbk("東乛乕買家") + ",buyer@example.com," + gbk("東乛乕買家") + "," + order.alipayId);

  OrderInfo read = OrderScraper::parseOrderDetail(env_, 3, ofOrder("`order_url`", order.id));
  EXPECT_EQ(read.id, 3);
  EXPECT_EQ(read.order_id, order.id);
  ASSERT_EQ(read.goods.size(), 2u);
  EXPECT_EQ(read.goods[0].category_id, 0) << "categories are the pipeline's, not the page's";
  std::vector<OrderGoods> stored = Order::instance()->loadOrderGoods(db_, std::stoi(ofOrder("`id`", order.id)));
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].item_id, "520123456789");
  EXPECT_EQ(stored[0].category_id, 7);
  EXPECT_EQ(stored[1].num, 3);
}

TEST_F(OrderScraperOnSim, ArchivedSnapshotsAreFollowedOnTheArchiveHost) {
  config_->set(getDb(), "market_base", "");
  config_->set(getDb(), "market_trade_host", sim_->baseUrl());
  config_->set(getDb(), "market_trade_archive_host", sim_->baseUrl() + "/archive");
  sim_->shop().setArchivePrefix("/archive");
  const std::string item = addItem("card");
  SimOrderRequest wanted;
  wanted.buyer = "b";
  wanted.lines = {{item, 4}};
  wanted.archive = true;  // its snapshot links the item with item_id=
  SimOrder order = sim_->shop().addOrder(wanted);
  tick();
  EXPECT_EQ(fileValue("select `item_id` || 'x' || `num` from `order_goods`"), item + "x4");
  EXPECT_EQ(ofOrder("`status`", order.id), "1");
}

TEST_F(OrderScraperOnSim, PaidNoticeIsExactWithItsTrailingSpaceAndOnlyWhenAsked) {
  const std::string title = gbk("淺亄匽卡");
  const std::string item = addItem(title);
  const std::string buyer = gbk("東乛乕");
  place(buyer, {{item, 2}});
  config_->set(getDb(), "notice_paid_order", "0");
  tick();
  EXPECT_TRUE(notices().empty());

  place(buyer, {{item, 2}, {item, 1}});
  config_->set(getDb(), "notice_paid_order", "1");
  tick();
  ASSERT_EQ(notices().size(), 1u);
  EXPECT_EQ(notices()[0], gbk("买家") + buyer + gbk("已拍下并付款：") + title + gbk("×") + "2 " + title + gbk("×") + "1 ");
}

TEST_F(OrderScraperOnSim, ADetailPageThatFailsLeavesItsOrderNewAndTheNextGoesOnNamedOnce) {
  const std::string item = addItem("card");
  Order::instance()->addFound(db_, "404404", sim_->baseUrl() + "/trade/detail/gone.htm?bizOrderId=404404");
  SimOrder order = place("b", {{item, 1}});

  ::testing::internal::CaptureStdout();
  tick();
  const std::string firstTick = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(ofOrder("`status`", "404404"), "0");
  EXPECT_EQ(fileValue("select count(*) from `order_goods` where `o_id`=(select `id` from `orders` where "
                      "`order_id`='404404')"),
            "0");
  EXPECT_EQ(ofOrder("`status`", order.id), "1") << "the order after it is read in the same tick";
  EXPECT_NE(firstTick.find("HTTP 404"), std::string::npos) << firstTick;
  EXPECT_NE(firstTick.find("/trade/detail/gone.htm"), std::string::npos) << firstTick;

  ::testing::internal::CaptureStdout();
  tick();
  tick();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "named once for the order, not at every tick";
  EXPECT_EQ(ofOrder("`status`", "404404"), "0");

  // The page comes back: the order is read.
  file_->exec("update `orders` set `order_url`='" + ofOrder("`order_url`", order.id) + "' where `order_id`='404404'");
  tick();
  EXPECT_EQ(ofOrder("`status`", "404404"), "1");
}

TEST_F(OrderScraperOnSim, ALoginBoxOnTheDetailPageEndsTheTickWithTheOrderStillNew) {
  SimOrder order = place("b", {{addItem("card"), 1}});
  intake_.fetchPaidOrders(db_);
  sim_->shop().setOpen(false);
  EXPECT_THROW(intake_.parseNewOrders(db_), AuthException);
  EXPECT_EQ(ofOrder("`status` || ',' || `order_status`", order.id), "0,0");
}

TEST_F(OrderScraperOnSim, TheDaemonsTickRecordsAndReadsThenStopsWhenTheLoginIsLost) {
  SimOrder order = place("b", {{addItem("card"), 1}});
  Deamon daemon(env_);
  daemon.setOrderPipeline(std::make_shared<MarketPipeline>(env_));
  daemon.setRunning(true);
  daemon.checkOrders();
  // Read, then taken up in the same tick: its item is bound to no category,
  // so it ends as not delivered.
  EXPECT_EQ(ofOrder("`status` || `text_msg`", order.id), "1008" + gbk("未绑定，未发货"));
  sim_->shop().setOpen(false);
  daemon.checkOrders();
  EXPECT_FALSE(daemon.running());
}

// A detail page whose snapshot cannot be fetched, on a server of the test's own.
TEST_F(OrderScraperOnSim, ASnapshotThatFailsLeavesTheOrderNew) {
  std::unique_ptr<testing::LoopbackServer> trade;
  trade = std::make_unique<testing::LoopbackServer>([&trade](const testing::SeenRequest& request) {
    if (request.target.find("trade_snap.htm") != std::string::npos) return testing::answer(500, "down");
    return testing::answer(200, gbk("当前订单状态：") + "<span class=\"wait\">" + gbk("买家已付款，等待卖家发货") +
                                    "</span><a href=\"" + trade->url("/trade/detail/trade_snap.htm?trade_id=5") +
                                    "\" title=\"T\"><td class=\"num\">1</td>");
  });
  config_->set(getDb(), "market_base", trade->url(""));
  Order::instance()->addFound(db_, "5", trade->url("/detail?bizOrderId=5"));
  try {
    OrderScraper::parseOrderDetail(env_, 1, trade->url("/detail?bizOrderId=5"));
    ADD_FAILURE() << "no CurlException";
  } catch (CurlException e) {
    EXPECT_NE(e.message().find("HTTP 500"), std::string::npos) << e.message();
  }
  ::testing::internal::CaptureStdout();
  intake_.parseNewOrders(db_);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("trade_snap.htm?trade_id=5"), std::string::npos);
  EXPECT_EQ(ofOrder("`status`", "5"), "0");
}

}  // namespace
}  // namespace Quorvel
