#include "store/SystemConfig.h"

#include <algorithm>

#include "base/Charset.h"
#include "store/Endpoints.h"
#include "store/SettingRules.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class SettingsTest : public StoreFixture {};

TEST_F(SettingsTest, ValuesSurviveAReloadWithOneRowPerKey) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  EXPECT_EQ(config->get("never_stored"), "");
  config->set(getDb(), "comment_msg", gbk("好评！谢谢"));
  config->set(getDb(), "comment_msg", gbk("再次好评"));
  config->setMany(getDb(), {{"notice_paid_order", "1"}, {"check_order_timeout", ""}, {"notice_store_num", gbk("5件")}});

  config->load(getDb());
  EXPECT_EQ(config->get("comment_msg"), gbk("再次好评"));
  EXPECT_EQ(count("select count(*) as `num` from `sys_config` where `key`='comment_msg'"), 1);
  EXPECT_EQ(config->getAll().size(), 4u);

  EXPECT_TRUE(config->flag("notice_paid_order"));
  config->set(getDb(), "notice_paid_order", "true");
  EXPECT_FALSE(config->flag("notice_paid_order"));
  EXPECT_EQ(config->number("check_order_timeout"), 0);
  EXPECT_EQ(config->number("notice_store_num"), 5);
  config->set(getDb(), "check_order_timeout", "ten");
  EXPECT_EQ(config->number("check_order_timeout"), 0);
}

TEST_F(SettingsTest, AFailedWriteLeavesTheCacheAsTheTable) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  config->set(getDb(), "smtp_host", "mail.example");
  getDb()->exec("drop table `sys_config`");
  EXPECT_THROW(config->set(getDb(), "smtp_host", "other.example"), DbException);
  EXPECT_EQ(config->get("smtp_host"), "mail.example");
}

TEST_F(SettingsTest, EndpointsFallBackToDefaultsAndFollowTheMarketBase) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  EXPECT_EQ(endpointSetting("maker_base"), "http://127.0.0.1:18080");
  EXPECT_EQ(endpointSetting("market_trade_host"), "https://trade.taobao.com");

  config->set(getDb(), "market_item_host", "http://items.test/");
  EXPECT_EQ(endpointSetting("market_item_host"), "http://items.test");

  config->set(getDb(), "market_base", "http://127.0.0.1:4567/");
  config->set(getDb(), "maker_base", "http://127.0.0.1:9000");
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    if (endpoint.marketHost) {
      EXPECT_EQ(endpointSetting(endpoint.key), "http://127.0.0.1:4567") << endpoint.key;
    }
  }
  EXPECT_EQ(endpointSetting("maker_base"), "http://127.0.0.1:9000");
  EXPECT_EQ(endpointSetting("local_host"), "127.0.0.1");
}

// Each numeric setting: both ends of its range and empty (the default) pass;
// one past either end, signs, spaces, fractions and digits too long for any
// number are refused with a message that names the key and the range.
TEST(SettingRules, EveryNumericSettingIsHeldToItsRange) {
  std::vector<std::string> keys;
  for (const SettingRule& rule : settingRules()) {
    keys.push_back(rule.key);
    EXPECT_NO_THROW(validateSetting(rule.key, ""));
    EXPECT_NO_THROW(validateSetting(rule.key, std::to_string(rule.min)));
    EXPECT_NO_THROW(validateSetting(rule.key, std::to_string(rule.max)));
    EXPECT_NO_THROW(validateSetting(rule.key, "0" + std::to_string(rule.max)));  // atoi reads the same number
    const std::string range = std::to_string(rule.min) + gbk(" 到 ") + std::to_string(rule.max);
    const std::vector<std::string> refused = {std::to_string(rule.min - 1), std::to_string(rule.max + 1),
                                              "+" + std::to_string(rule.max), " 1", "1 ", "1.0", "ten",
                                              "99999999999999999999"};
    for (const std::string& bad : refused) {
      try {
        validateSetting(rule.key, bad);
        ADD_FAILURE() << rule.key << "=" << bad << " was accepted";
      } catch (Exception e) {
        EXPECT_NE(e.message().find(rule.key), std::string::npos) << e.message();
        EXPECT_NE(e.message().find(range), std::string::npos) << e.message();
      }
    }
  }
  // Every setting the program reads as a number has a rule.
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"backup_interval_hours", "backup_keep", "check_msg_timeout",
                                            "check_order_timeout", "comment_timeout",
                                            "email_send_type", "notice_store_num", "smtp_port",
                                            "wangwang_retry_timeout"}));
  EXPECT_EQ(settingRule("smtp_port")->min, 1);
  EXPECT_EQ(settingRule("check_order_timeout")->min, 1);

  // Texts and flags take anything; only a setting without a name is refused.
  EXPECT_NO_THROW(validateSetting("comment_msg", gbk("好评")));
  EXPECT_NO_THROW(validateSetting("comment_enable", "yes"));
  EXPECT_NO_THROW(validateSetting("anything_else", "1 OR 1=1"));
  EXPECT_THROW(validateSetting("", ""), Exception);
  EXPECT_THROW(validateSetting("", "x"), Exception);
}

// Endpoint settings take plain addresses only: the browser is started on the
// maker's address and every card goes to these hosts.
TEST(SettingRules, EndpointSettingsTakeOnlyPlainAddresses) {
  for (const char* key : {"maker_base", "market_base", "market_login_host", "market_webim_host",
                          "market_some_new_host"}) {
    EXPECT_TRUE(isEndpointKey(key)) << key;
    for (const char* good : {"", "http://127.0.0.1:18080", "https://login.example.com", "http://[::1]:9"}) {
      EXPECT_NO_THROW(validateSetting(key, good)) << key << "=" << good;
    }
    for (const char* bad : {"--renderer-cmd-prefix=touch /tmp/owned", "--user-data-dir=/tmp", "-x",
                            "http://evil.example --renderer-cmd-prefix=x", "http://user:pw@evil.example",
                            "example.com", "file:///etc/passwd", "http://example.com/path", "http://exa mple.com",
                            "javascript:alert(1)", "http://example.com:99999"}) {
      try {
        validateSetting(key, bad);
        ADD_FAILURE() << key << "=" << bad << " was accepted";
      } catch (Exception e) {
        EXPECT_NE(e.message().find(key), std::string::npos) << e.message();
        EXPECT_NE(e.message().find(gbk("未保存任何设置")), std::string::npos) << e.message();
      }
    }
  }
  EXPECT_NO_THROW(validateSetting("local_host", "local.vendara.example"));
  EXPECT_NO_THROW(validateSetting("local_host", "127.0.0.1"));
  EXPECT_NO_THROW(validateSetting("local_host", ""));
  for (const char* bad : {"http://127.0.0.1", "127.0.0.1:80", "evil.example/x", "--x", "a b"}) {
    EXPECT_THROW(validateSetting("local_host", bad), Exception) << bad;
  }
  // Keys that merely look alike are texts.
  for (const char* key : {"market_host", "maker_base_x", "smtp_host", "email_dns_server"}) {
    EXPECT_FALSE(isEndpointKey(key)) << key;
    EXPECT_NO_THROW(validateSetting(key, "--anything at all")) << key;
  }
}

}  // namespace
}  // namespace Quorvel
