// "getStatus", "setConfig" and "getConfig" through a real local server on a
// temporary database.
#include <gtest/gtest.h>

#include "api/StatusActions.h"
#include "base/Charset.h"
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
    daemon_ = std::make_shared<Deamon>();
    registerStatusActions(daemon_);
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
  SystemConfig::instance()->load();
  EXPECT_EQ(SystemConfig::instance()->get("comment_msg"), gbk("好评，谢谢"));
  EXPECT_EQ(SystemConfig::instance()->number("check_order_timeout"), 30);
}

TEST_F(StatusActions, SetConfigWithoutParametersSucceeds) {
  Json::Value set = callAction(server_.port(), "setConfig");
  EXPECT_EQ(set["SUCCESS"], Json::Value(1));
  EXPECT_FALSE(set.isMember("MSG"));
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

}  // namespace
}  // namespace Quorvel::testing
