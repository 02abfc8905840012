#include "market/MarketHosts.h"

#include <gtest/gtest.h>

#include <map>

#include "market/PageText.h"
#include "store/Db.h"
#include "store/SystemConfig.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class MarketHostsTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    SystemConfig::instance()->setMany(getDb(), settings_);
  }

  std::map<std::string, std::string> settings_{
      {"market_login_host", "https://login.example.com/"},
      {"market_seller_host", "sell.example.com"},
      {"market_trade_host", "trade.example.com"},
      {"market_trade_archive_host", "trade.archive.example.com"},
      {"market_item_host", "item.example.com"},
      {"market_logistics_host", "wuliu.example.com"},
      {"market_rate_host", "rate.example.com"},
      {"market_webim_host", "http://im.example.com:8080"},
  };
};

TEST_F(MarketHostsTest, PageAddressesFromTheHostSettings) {
  EXPECT_EQ(MarketHosts::loginPage(), "https://login.example.com/member/login.jhtml");
  EXPECT_EQ(MarketHosts::goodsOnSalePage(3), "http://sell.example.com/auction/goods/goods_on_sale.htm?page=3");
  EXPECT_EQ(MarketHosts::consignPage("123"), "http://wuliu.example.com/user/consign.htm?trade_id=123");
  EXPECT_EQ(MarketHosts::sellerMemoPage("9"),
            "http://trade.example.com/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=9");
  EXPECT_EQ(MarketHosts::rateFormPage("5"), "http://rate.example.com/remark_buyer.jhtml?tradeID=5");
  EXPECT_EQ(MarketHosts::rateSubmitPage(), "http://rate.example.com/remarkBuyer.htm");
  EXPECT_EQ(MarketHosts::webImPage("%C2%F2"),
            "http://im.example.com:8080/webww/?ver=1&&touid=cntaobao%C2%F2&siteid=cntaobao&status=1");
  EXPECT_EQ(MarketHosts::paidOrdersPage().rfind("http://trade.example.com/trade/itemlist/list_sold_items.htm?action="
                                                "itemlist%2FQueryAction&auctionStatus=PAID&", 0),
            0u);
  EXPECT_NE(MarketHosts::unratedOrdersPage().find("&commentStatus=I_HAS_NOT_COMMENT&"), std::string::npos);

  SystemConfig::instance()->set(getDb(), "market_trade_host", "trade2.example.com");  // read again at every call
  EXPECT_EQ(MarketHosts::tradeBase(), "http://trade2.example.com");
}

TEST_F(MarketHostsTest, OneBaseAddressOverridesEveryHost) {
  SystemConfig::instance()->set(getDb(), "market_base", "http://127.0.0.1:18090/");
  EXPECT_EQ(MarketHosts::loginPage(), "http://127.0.0.1:18090/member/login.jhtml");
  EXPECT_EQ(MarketHosts::rateSubmitPage(), "http://127.0.0.1:18090/remarkBuyer.htm");
  EXPECT_EQ(MarketHosts::itemBase(), "http://127.0.0.1:18090");

  std::vector<std::string> groups;
  const std::string link = "<a href=\"http://127.0.0.1:18090/trade/detail/trade_snap.htm?trade_id=77\" title=\"T\"";
  ASSERT_TRUE(regexMatch(MarketHosts::snapshotLinkPattern(), link, groups));
  EXPECT_EQ(groups[3], "77");
}

TEST_F(MarketHostsTest, HostPatternsMatchOnlyTheirHost) {
  std::vector<std::string> groups;
  const std::string item = MarketHosts::itemHostPattern() + "/item\\.htm\\?id=([0-9]+)";
  EXPECT_TRUE(regexMatch(item, "<A HREF=\"http://item.example.com/item.htm?id=12\"", groups));
  EXPECT_EQ(groups[1], "12");
  EXPECT_TRUE(regexMatch(item, "https://item.example.com/item.htm?id=12", groups));
  EXPECT_FALSE(regexMatch(item, "http://itemXexample.com/item.htm?id=12", groups));
  EXPECT_FALSE(regexMatch(item, "http://other.com/item.htm?id=12", groups));

  const std::string page =
      "<a href=\"http://trade.example.com/trade/detail/trade_snap.htm?trade_id=11\" title=\"Card A\">"
      "<a href=\"http://trade.archive.example.com/trade/detail/trade_snap.htm?trade_id=22\" title=\"Card B\">"
      "<a href=\"http://evil.example.com/trade/detail/trade_snap.htm?trade_id=33\" title=\"Card C\">";
  std::vector<std::vector<std::string>> links;
  ASSERT_TRUE(regexMatchAll(MarketHosts::snapshotLinkPattern(), page, links));
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0][1], "http://trade.example.com/trade/detail/trade_snap.htm?trade_id=11");
  EXPECT_EQ(links[0][2], "");
  EXPECT_EQ(links[0][3], "11");
  EXPECT_EQ(links[0][4], "Card A");
  EXPECT_NE(links[1][2], "");
  EXPECT_EQ(links[1][3], "22");
}

// Hosts not set are the built-in defaults; `market_base` overrides them all.
class MarketHostsSettings : public StoreFixture {};

TEST_F(MarketHostsSettings, ComeFromTheEndpointSettings) {
  EXPECT_EQ(MarketHosts::consignPage("1"), "https://wuliu.taobao.com/user/consign.htm?trade_id=1");
  SystemConfig::instance()->set(getDb(), "market_trade_host", "http://trade.test");
  EXPECT_EQ(MarketHosts::sellerMemoPage("2"),
            "http://trade.test/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=2");
  SystemConfig::instance()->set(getDb(), "market_base", "http://127.0.0.1:4567/");
  EXPECT_EQ(MarketHosts::loginPage(), "http://127.0.0.1:4567/member/login.jhtml");
  EXPECT_EQ(MarketHosts::sellerMemoPage("2"),
            "http://127.0.0.1:4567/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=2");
}

}  // namespace
}  // namespace Quorvel
