// Names holding GBK characters whose second byte is an ASCII code that JSON
// or a pattern treats specially (淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]), stored
// through a real local server and read back the way the page reads them: the
// JSONP answer as UTF-8, parsed with jsoncpp.
#include <gtest/gtest.h>

#include "api/CategoryActions.h"
#include "api/ItemActions.h"
#include "api/StatusActions.h"
#include "base/Charset.h"
#include "store/Category.h"
#include "store/SystemConfig.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

const std::string kAwkward = "淺東乛乕亄匽";

class GbkRoundTrip : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerCategoryActions(Env());
    registerItemActions(Env());
    daemon_ = std::make_shared<Deamon>(Env());
    registerStatusActions(Env(), daemon_);
  }
  void TearDown() override {
    daemon_->stopAndWait();
    StoreFixture::TearDown();
  }

  Json::Value call(const std::string& action, const std::vector<std::pair<std::string, std::string>>& form = {}) {
    return callAction(server_.port(), action, formOf(form));
  }

  std::shared_ptr<Deamon> daemon_;  // built in SetUp, on the system clock
  TestServer server_;
};

TEST_F(GbkRoundTrip, CategoryNameAndTemplatesComeBackAsSent) {
  const std::string name = "话费卡" + kAwkward + "淺";  // ends in a backslash byte
  const std::string tpl = "{\"mail\":\"" + kAwkward + "n\"}";
  ASSERT_EQ(call("category&action=add", {{"name", name}, {"tpl", tpl}, {"ext", "{\"note\":\"淺n\"}"}})["SUCCESS"],
            Json::Value(1));
  Json::Value list = call("category&action=lst")["LIST"];
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["name"].asString(), name);
  EXPECT_EQ(list[0]["tpl"].asString(), tpl);
  EXPECT_EQ(list[0]["ext"].asString(), "{\"note\":\"淺n\"}");
  EXPECT_EQ(Category::instance()->get(list[0]["id"].asInt()).name, gbk(name)) << "GBK in memory";
}

TEST_F(GbkRoundTrip, CardDataComesBackAsSent) {
  CategoryRecord category;
  category.name = gbk("卡" + kAwkward);
  Category::instance()->add(getDb(), category);
  const std::string cg = std::to_string(category.id);
  const std::string data1 = "卡号" + kAwkward + "淺";
  const std::string data2 = "淺\"東";
  const std::string data3 = "乛\\乕\t亄";
  ASSERT_EQ(call("item&action=add", {{"cg_id", cg}, {"data1", data1}, {"data2", data2}, {"data3", data3}})["SUCCESS"],
            Json::Value(1));
  Json::Value page = call("item&action=lst", {{"cg_id", cg}, {"page_num", "10"}, {"page", "1"}});
  ASSERT_EQ(page["LIST"].size(), 1u);
  EXPECT_EQ(page["LIST"][0]["data1"].asString(), data1);
  EXPECT_EQ(page["LIST"][0]["data2"].asString(), data2);
  EXPECT_EQ(page["LIST"][0]["data3"].asString(), data3);
  EXPECT_EQ(call("category&action=lst")["LIST"][0]["name"].asString(), "卡" + kAwkward);
}

TEST_F(GbkRoundTrip, SettingsComeBackAsSentAndSurviveBeingSavedAgain) {
  const std::string comment = "好评" + kAwkward + "淺";
  ASSERT_EQ(call("setConfig", {{"comment_msg", comment}, {"black_list", "淺n東"}})["SUCCESS"], Json::Value(1));
  // A form body carries GBK bytes as they are.
  ASSERT_EQ(postAction(server_.port(), "setConfig", formOf({{"taobao_user", gbk("小店" + kAwkward)}}))["SUCCESS"],
            Json::Value(1));

  Json::Value list = call("getConfig")["LIST"];
  EXPECT_EQ(list["comment_msg"].asString(), comment);
  EXPECT_EQ(list["black_list"].asString(), "淺n東");
  EXPECT_EQ(list["taobao_user"].asString(), "小店" + kAwkward);

  // The settings form saves what it was shown; nothing changes on the way.
  std::vector<std::pair<std::string, std::string>> shown;
  for (const std::string& key : list.getMemberNames()) shown.emplace_back(key, list[key].asString());
  ASSERT_EQ(call("setConfig", shown)["SUCCESS"], Json::Value(1));
  EXPECT_EQ(call("getConfig")["LIST"], list);
  SystemConfig::instance()->load(getDb());
  EXPECT_EQ(SystemConfig::instance()->get("comment_msg"), gbk(comment));
}

}  // namespace
}  // namespace Quorvel::testing
