#include "store/SystemConfig.h"

#include "base/Charset.h"
#include "store/Endpoints.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class SettingsTest : public StoreFixture {};

TEST_F(SettingsTest, ValuesSurviveAReloadWithOneRowPerKey) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  EXPECT_EQ(config->get("never_stored"), "");
  config->set("comment_msg", gbk("好评！谢谢"));
  config->set("comment_msg", gbk("再次好评"));
  config->setMany({{"notice_paid_order", "1"}, {"check_order_timeout", ""}, {"notice_store_num", gbk("5件")}});

  config->load();
  EXPECT_EQ(config->get("comment_msg"), gbk("再次好评"));
  EXPECT_EQ(count("select count(*) as `num` from `sys_config` where `key`='comment_msg'"), 1);
  EXPECT_EQ(config->getAll().size(), 4u);

  EXPECT_TRUE(config->flag("notice_paid_order"));
  config->set("notice_paid_order", "true");
  EXPECT_FALSE(config->flag("notice_paid_order"));
  EXPECT_EQ(config->number("check_order_timeout"), 0);
  EXPECT_EQ(config->number("notice_store_num"), 5);
  config->set("check_order_timeout", "ten");
  EXPECT_EQ(config->number("check_order_timeout"), 0);
}

TEST_F(SettingsTest, AFailedWriteLeavesTheCacheAsTheTable) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  config->set("smtp_host", "mail.example");
  getDb()->exec("drop table `sys_config`");
  EXPECT_THROW(config->set("smtp_host", "other.example"), DbException);
  EXPECT_EQ(config->get("smtp_host"), "mail.example");
}

TEST_F(SettingsTest, EndpointsFallBackToDefaultsAndFollowTheMarketBase) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  EXPECT_EQ(endpointSetting("maker_base"), "http://127.0.0.1:18080");
  EXPECT_EQ(endpointSetting("market_trade_host"), "https://trade.taobao.com");

  config->set("market_item_host", "http://items.test/");
  EXPECT_EQ(endpointSetting("market_item_host"), "http://items.test");

  config->set("market_base", "http://127.0.0.1:4567/");
  config->set("maker_base", "http://127.0.0.1:9000");
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    if (endpoint.marketHost) {
      EXPECT_EQ(endpointSetting(endpoint.key), "http://127.0.0.1:4567") << endpoint.key;
    }
  }
  EXPECT_EQ(endpointSetting("maker_base"), "http://127.0.0.1:9000");
  EXPECT_EQ(endpointSetting("local_host"), "127.0.0.1");
}

}  // namespace
}  // namespace Quorvel
