// "getStatus", "setConfig" and "getConfig" through a real local server on a
// temporary database.
#include <gtest/gtest.h>

#include "api/StatusActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "port/Autostart.h"
#include "base/Registry.h"
#include "store/Db.h"
#include "store/SystemConfig.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

class StatusActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    daemon_ = std::make_shared<Deamon>(Env());
    registerStatusActions(env_, daemon_);
  }
  void TearDown() override {
    daemon_->stopAndWait();
    StoreFixture::TearDown();
  }

  // Rows of `sys_config` with `key`, read from the table itself.
  int storedRows(const std::string& key) {
    return count("select count(*) as `num` from `sys_config` where `key`='" + key + "'");
  }

  std::shared_ptr<Deamon> daemon_;  // built in SetUp, on the system clock
  Env env_;                         // the actions' (copies share its entries)
  TestServer server_;
};

TEST_F(StatusActions, RightAfterStartTheDaemonIsStoppedAndHasDoneNothing) {
  daemon_->start();
  Json::Value status = callAction(server_.port(), "getStatus");
  ASSERT_TRUE(status.isObject());
  EXPECT_TRUE(status["SUCCESS"].isInt());
  EXPECT_EQ(status["SUCCESS"].asInt(), 1);
  EXPECT_TRUE(status["RUNNING"].isBool());
  EXPECT_FALSE(status["RUNNING"].asBool());
  EXPECT_EQ(status["ACCOUNT"], Json::Value(""));
  EXPECT_TRUE(status["CHECK_TIME"].isInt());
  EXPECT_EQ(status["CHECK_TIME"].asInt(), 0);
  EXPECT_TRUE(status["SEND_MSG_TIME"].isInt());
  EXPECT_EQ(status["SEND_MSG_TIME"].asInt(), 0);  // no dispatch pass sends anything yet
  EXPECT_FALSE(status.isMember("MSG"));
}

TEST_F(StatusActions, StatusShowsTheFlagTheAccountAndTheLow32BitsOfTheTimes) {
  daemon_->setRunning(true);
  Registry::instance()->set<std::string>("account", gbk("小店"));
  Registry::instance()->set<std::int64_t>("checkLastTime", (std::int64_t{1} << 32) + 1'700'000'000);
  Registry::instance()->set<std::int64_t>("sendMsgTime", std::int64_t{0xFFFFFFFF});

  Json::Value status = callAction(server_.port(), "getStatus");
  EXPECT_EQ(status["RUNNING"], Json::Value(true));
  EXPECT_EQ(status["ACCOUNT"].asString(), "小店");
  EXPECT_EQ(status["CHECK_TIME"].asInt(), 1'700'000'000);
  EXPECT_EQ(status["SEND_MSG_TIME"].asInt(), -1);
}

TEST_F(StatusActions, SettingsRoundTripChineseTextAndNumbersAsStrings) {
  // From the page: UTF-8 in `_postData`.
  Json::Value set = callAction(server_.port(), "setConfig",
                               formOf({{"check_order_timeout", "30"}, {"comment_msg", "好评，谢谢"}}));
  Json::Value success(Json::objectValue);
  success["SUCCESS"] = 1;
  EXPECT_EQ(set, success);
  // As a form body: bytes as they come, GBK in memory.
  Json::Value posted = postAction(server_.port(), "setConfig", formOf({{"taobao_user", gbk("小店")}}));
  EXPECT_EQ(posted["SUCCESS"], Json::Value(1));

  Json::Value config = callAction(server_.port(), "getConfig");
  EXPECT_EQ(config["SUCCESS"], Json::Value(1));
  EXPECT_EQ(config["MSG"], Json::Value(""));
  const Json::Value& list = config["LIST"];
  EXPECT_EQ(list["check_order_timeout"], Json::Value("30"));
  EXPECT_EQ(list["comment_msg"], Json::Value("好评，谢谢"));
  EXPECT_EQ(list["taobao_user"], Json::Value("小店"));

  // Stored for good, and what the daemon reads is GBK.
  SystemConfig::instance()->load(getDb());
  EXPECT_EQ(SystemConfig::instance()->get("comment_msg"), gbk("好评，谢谢"));
  EXPECT_EQ(SystemConfig::instance()->number("check_order_timeout"), 30);
}

// Nothing to store is a success that changes nothing; what the same action
// then stores is really stored, in the table and in the cache.
TEST_F(StatusActions, SetConfigWithoutParametersSucceeds) {
  const int rows = count("select count(*) as `num` from `sys_config`");
  const auto before = SystemConfig::instance()->getAll();
  Json::Value set = callAction(server_.port(), "setConfig");
  EXPECT_EQ(set["SUCCESS"], Json::Value(1));
  EXPECT_FALSE(set.isMember("MSG"));
  EXPECT_EQ(count("select count(*) as `num` from `sys_config`"), rows);
  EXPECT_EQ(SystemConfig::instance()->getAll(), before);

  set = callAction(server_.port(), "setConfig", formOf({{"notice_store_num", "7"}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(1)) << set["MSG"].asString();
  EXPECT_EQ(storedRows("notice_store_num"), 1);
  EXPECT_EQ(count("select count(*) as `num` from `sys_config` where `key`='notice_store_num' and `value`='7'"), 1);
  EXPECT_EQ(SystemConfig::instance()->number("notice_store_num"), 7);
}

TEST_F(StatusActions, FailedSetConfigIsReportedAndStoresNothing) {
  getDb()->exec(
      "create trigger if not exists `refuse_bad_key` before insert on `sys_config` "
      "when new.`key` = 'z_refused' begin select raise(abort, 'refused by the test'); end;");
  // Keys are written in order, so "a_accepted" is written before the failure.
  Json::Value set = callAction(server_.port(), "setConfig", formOf({{"a_accepted", "1"}, {"z_refused", "2"}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(0));
  EXPECT_NE(set["MSG"].asString().find("refused by the test"), std::string::npos);
  EXPECT_EQ(storedRows("a_accepted"), 0);
  // The running program does not use the value that was not saved either.
  EXPECT_EQ(SystemConfig::instance()->get("a_accepted"), "");
  Json::Value config = callAction(server_.port(), "getConfig");
  EXPECT_FALSE(config["LIST"].isMember("a_accepted"));

  // Nothing is left open: the next change goes through.
  getDb()->exec("drop trigger `refuse_bad_key`;");
  set = callAction(server_.port(), "setConfig", formOf({{"a_accepted", "1"}, {"z_refused", "2"}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(1));
  EXPECT_EQ(storedRows("a_accepted"), 1);
  EXPECT_EQ(storedRows("z_refused"), 1);
}

// A number that is not one, or out of its range, refuses the whole request:
// the other values of the same request are not stored either.
TEST_F(StatusActions, SetConfigRefusesANumberOutOfRangeAndStoresNothingOfTheRequest) {
  SystemConfig::instance()->set(getDb(), "check_order_timeout", "30");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"check_order_timeout", "abc"}, {"check_order_timeout", "0"},         {"check_order_timeout", "-5"},
      {"check_order_timeout", " 5"},  {"check_order_timeout", "1 OR 1=1"},  {"check_msg_timeout", "99999999999"},
      {"smtp_port", "0"},             {"smtp_port", "65536"},               {"email_send_type", "4"},
      {"notice_store_num", "5件"},    {"wangwang_retry_timeout", "-1"},     {"comment_timeout", "1.5"},
  };
  for (const auto& [key, value] : refused) {
    Json::Value set = callAction(server_.port(), "setConfig", formOf({{"a_accepted", "1"}, {key, value}, {"zz", "z"}}));
    EXPECT_EQ(set["SUCCESS"], Json::Value(0)) << key << "=" << value;
    const std::string message = set["MSG"].asString();
    EXPECT_NE(message.find(key), std::string::npos) << message;  // names the key ...
    EXPECT_NE(message.find(" 到 "), std::string::npos) << message;  // ... and the range
  }
  EXPECT_EQ(storedRows("a_accepted"), 0);
  EXPECT_EQ(storedRows("zz"), 0);
  EXPECT_EQ(SystemConfig::instance()->get("a_accepted"), "");
  EXPECT_EQ(SystemConfig::instance()->get("check_order_timeout"), "30");

  // Empty means the program's default; the ends of each range are accepted.
  Json::Value set = callAction(server_.port(), "setConfig",
                               formOf({{"check_order_timeout", ""}, {"check_msg_timeout", "1"}, {"smtp_port", "65535"},
                                       {"email_send_type", "3"}, {"notice_store_num", "0"}, {"comment_enable", "1"}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(1)) << set["MSG"].asString();
  EXPECT_EQ(SystemConfig::instance()->get("check_order_timeout"), "");
  EXPECT_EQ(SystemConfig::instance()->get("smtp_port"), "65535");
}

TEST_F(StatusActions, SetConfigNamesEveryRefusedValueAtOnce) {
  Json::Value set = callAction(server_.port(), "setConfig",
                               formOf({{"a_accepted", "1"}, {"check_order_timeout", "0"}, {"smtp_port", "65536"},
                                       {"maker_base", "ftp://x"}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(0));
  const Json::Value& errors = set["ERRORS"];
  ASSERT_TRUE(errors.isObject()) << set.toStyledString();
  EXPECT_EQ(errors.getMemberNames(), (std::vector<std::string>{"check_order_timeout", "maker_base", "smtp_port"}));
  EXPECT_NE(errors["smtp_port"].asString().find(" 到 "), std::string::npos) << errors["smtp_port"].asString();
  EXPECT_NE(set["MSG"].asString().find("3 项设置有误，原因写在各项旁边"), std::string::npos) << set["MSG"].asString();
  EXPECT_EQ(storedRows("a_accepted"), 0);

  // One refusal keeps its own message as the whole answer.
  set = callAction(server_.port(), "setConfig", formOf({{"smtp_port", "0"}}));
  EXPECT_EQ(set["MSG"].asString(), set["ERRORS"]["smtp_port"].asString());
}

// An address that could reach the browser as an option, or send the cards
// elsewhere in a shape no check expects, is refused with the whole request.
TEST_F(StatusActions, SetConfigRefusesEndpointsThatAreNotPlainAddresses) {
  SystemConfig::instance()->set(getDb(), "maker_base", "http://127.0.0.1:18080");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"maker_base", "--renderer-cmd-prefix=touch /tmp/owned"},
      {"maker_base", "http://127.0.0.1:18080 --renderer-cmd-prefix=x"},
      {"maker_base", "http://seller@evil.example"},
      {"market_base", "file:///etc/passwd"},
      {"market_trade_host", "http://trade.example.com/x"},
      {"local_host", "http://evil.example"},
  };
  for (const auto& [key, value] : refused) {
    Json::Value set = callAction(server_.port(), "setConfig", formOf({{"a_accepted", "1"}, {key, value}}));
    EXPECT_EQ(set["SUCCESS"], Json::Value(0)) << key << "=" << value;
    EXPECT_NE(set["MSG"].asString().find(key), std::string::npos) << set["MSG"].asString();
  }
  EXPECT_EQ(storedRows("a_accepted"), 0);
  EXPECT_EQ(storedRows("market_base"), 0);
  EXPECT_EQ(SystemConfig::instance()->get("maker_base"), "http://127.0.0.1:18080");

  Json::Value set = callAction(server_.port(), "setConfig",
                               formOf({{"maker_base", "https://maker.example:8443"}, {"market_base", ""}}));
  EXPECT_EQ(set["SUCCESS"], Json::Value(1)) << set["MSG"].asString();
  EXPECT_EQ(SystemConfig::instance()->get("maker_base"), "https://maker.example:8443");
}

TEST_F(StatusActions, SetConfigRefusesASettingWithoutAName) {
  Json::Value set = postAction(server_.port(), "setConfig", "a_accepted=1&=orphan");
  EXPECT_EQ(set["SUCCESS"], Json::Value(0));
  EXPECT_FALSE(set["MSG"].asString().empty());
  EXPECT_EQ(storedRows(""), 0);
  EXPECT_EQ(storedRows("a_accepted"), 0);

  // A form that merely ends with "&" names no setting at all and saves.
  set = postAction(server_.port(), "setConfig", "a_accepted=1&");
  EXPECT_EQ(set["SUCCESS"], Json::Value(1)) << set["MSG"].asString();
  EXPECT_EQ(storedRows(""), 0);
  EXPECT_EQ(storedRows("a_accepted"), 1);
}

// An autostart entry that notes what it was told, or refuses.
class NotedAutostart : public port::Autostart {
 public:
  void set(bool on) override {
    if (refuse) throw Exception(gbk("无法写入开机自启动项"));
    calls.push_back(on);
  }
  bool refuse = false;
  std::vector<bool> calls;
};

TEST_F(StatusActions, TheAutostartSettingSwitchesTheEntryOrIsNotSavedWhenTheEntryCannotChange) {
  auto autostart = std::make_shared<NotedAutostart>();
  env_.set<port::Autostart>(autostart);

  EXPECT_EQ(callAction(server_.port(), "setConfig", formOf({{"comment_msg", "x"}}))["SUCCESS"], Json::Value(1));
  EXPECT_TRUE(autostart->calls.empty());  // other settings leave the entry alone
  EXPECT_EQ(callAction(server_.port(), "setConfig", formOf({{"autostart", "1"}}))["SUCCESS"], Json::Value(1));
  EXPECT_EQ(callAction(server_.port(), "setConfig", formOf({{"autostart", "0"}}))["SUCCESS"], Json::Value(1));
  EXPECT_EQ(autostart->calls, (std::vector<bool>{true, false}));

  autostart->refuse = true;
  Json::Value refused = callAction(server_.port(), "setConfig", formOf({{"autostart", "1"}, {"comment_msg", "y"}}));
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_EQ(refused["MSG"].asString(), "无法写入开机自启动项");
  const Json::Value list = callAction(server_.port(), "getConfig")["LIST"];
  EXPECT_EQ(list["autostart"], Json::Value("0"));
  EXPECT_EQ(list["comment_msg"], Json::Value("x"));  // nothing of the refused request
}

}  // namespace
}  // namespace Quorvel::testing
