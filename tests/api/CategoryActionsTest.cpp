// "category" and "getGoodsLst" through a real local server on a temporary
// database.
#include <gtest/gtest.h>

#include <tuple>

#include "api/CategoryActions.h"
#include "base/Charset.h"
#include "store/Category.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

class CategoryActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerCategoryActions(env_);
  }

  Json::Value category(const std::string& action, const std::vector<std::pair<std::string, std::string>>& form = {}) {
    return callAction(server_.port(), "category&action=" + action, formOf(form));
  }

  static Json::Value success() {
    Json::Value reply(Json::objectValue);
    reply["SUCCESS"] = 1;
    reply["MSG"] = "SUCCESS";
    return reply;
  }

  static CategoryRecord stored(const std::string& name) {
    CategoryRecord record;
    record.name = name;
    Category::instance()->add(getDb(), record);
    return record;
  }

  static CardRecord card(int cg, const std::string& sent) { return addCard(cg, "", "", sent); }

  int rows(const std::string& table, int cg) {
    const std::string column = table == "category" ? "`id`" : "`cg_id`";
    return count("select count(*) as `num` from `" + table + "` where " + column + "=" + std::to_string(cg));
  }

  Env env_;  // the actions' (copies share its entries)
  TestServer server_;
};

TEST_F(CategoryActions, AddedCategoriesAreListedWithZeroStockAndUnknownSubActionsAreRefused) {
  EXPECT_EQ(category("lst")["LIST"], Json::Value());
  EXPECT_EQ(category("add", {{"name", "话费卡"}, {"tpl", "{}"}, {"flg", "3"}, {"type", "1"}, {"ext", "{\"a\":1}"}}),
            success());
  EXPECT_EQ(category("add", {{"name", "second"}}), success());

  Json::Value list = category("lst")["LIST"];
  ASSERT_EQ(list.size(), 2u);
  const Json::Value& added = list[0];
  EXPECT_TRUE(added["id"].isInt());
  EXPECT_EQ(added["name"].asString(), "话费卡");
  EXPECT_EQ(added["flg"], Json::Value(3));
  EXPECT_EQ(added["type"], Json::Value(1));
  EXPECT_EQ(added["ext"].asString(), "{\"a\":1}");
  EXPECT_EQ(added["store_num"], Json::Value(0));
  EXPECT_EQ(added["store_total_num"], Json::Value(0));
  EXPECT_EQ(Category::instance()->get(added["id"].asInt()).name, gbk("话费卡"));  // GBK in memory

  // A sub-action the table does not know does nothing, and says so.
  EXPECT_EQ(callAction(server_.port(), "category")["SUCCESS"], Json::Value(0));
  EXPECT_EQ(category("nothing", {{"id", added["id"].asString()}})["SUCCESS"], Json::Value(0));
  EXPECT_EQ(category("lst")["LIST"].size(), 2u);

  EXPECT_EQ(category("del", {{"id", std::to_string(added["id"].asInt())}}), success());
  EXPECT_EQ(category("lst")["LIST"].size(), 1u);
}

TEST_F(CategoryActions, AFailedInsertIsReported) {
  getDb()->exec("create trigger `refuse` before insert on `category` begin select raise(abort, 'disk full'); end");
  Json::Value reply = category("add", {{"name", "x"}});
  EXPECT_EQ(reply["SUCCESS"], Json::Value(0));
  EXPECT_NE(reply["MSG"].asString().find("disk full"), std::string::npos);
  EXPECT_TRUE(Category::instance()->all().empty());
}

TEST_F(CategoryActions, UpdateKeepsTheCountersAndRefusesAnUnknownId) {
  CategoryRecord record;
  record.name = "old";
  Category::instance()->add(getDb(), record);
  addCard(record.id, "", "");

  const std::string id = std::to_string(record.id);
  EXPECT_EQ(category("update", {{"id", id}, {"name", "new"}, {"tpl", "{\"t\":1}"}, {"flg", "1"}, {"type", "2"},
                                {"ext", "{\"e\":1}"}, {"store_num", "99"}, {"store_total_num", "99"}}),
            success());
  CategoryRecord now = Category::instance()->get(record.id);
  EXPECT_EQ(now.name, "new");
  EXPECT_EQ(now.tpl, "{\"t\":1}");
  EXPECT_EQ(now.flg, CategorySwitch::kOn);
  EXPECT_EQ(now.type, CategoryType::kText);
  EXPECT_EQ(now.ext, "{\"e\":1}");
  EXPECT_EQ(now.store_num, 1);
  EXPECT_EQ(now.store_total_num, 1);

  for (const std::string& unknown : {std::to_string(record.id + 1), std::string("0")}) {
    Json::Value reply = category("update", {{"id", unknown}, {"name", "ghost"}});
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << unknown;
    EXPECT_NE(reply["MSG"].asString().find("分类不存在"), std::string::npos) << reply["MSG"].asString();
  }
  EXPECT_EQ(Category::instance()->all().size(), 1u);
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 1);
  EXPECT_EQ(Category::instance()->get(record.id).name, "new");
}

TEST_F(CategoryActions, BindingMovesAnItemAndBindListFollows) {
  const std::string one = std::to_string(stored("one").id);
  const std::string two = std::to_string(stored("two").id);
  EXPECT_EQ(category("bind", {{"cg_id", one}, {"item_id", "5001"}}), success());
  EXPECT_EQ(category("bind", {{"cg_id", one}, {"item_id", "5002"}}), success());
  Json::Value both(Json::arrayValue);
  both.append("5001");
  both.append("5002");
  EXPECT_EQ(category("bindLst", {{"cg_id", one}})["ITEM_LIST"], both);

  EXPECT_EQ(category("bind", {{"cg_id", two}, {"item_id", "5001"}}), success());
  Json::Value left(Json::arrayValue);
  left.append("5002");
  EXPECT_EQ(category("bindLst", {{"cg_id", one}})["ITEM_LIST"], left);
  EXPECT_EQ(category("bindLst", {{"cg_id", two}})["ITEM_LIST"][0], Json::Value("5001"));

  EXPECT_EQ(category("unbind", {{"cg_id", "9"}, {"item_id", "5002"}}), success());
  Json::Value empty = category("bindLst", {{"cg_id", one}});
  EXPECT_TRUE(empty.isMember("ITEM_LIST"));
  EXPECT_TRUE(empty["ITEM_LIST"].isNull());
}

TEST_F(CategoryActions, AnIdThatIsNotAllDigitsIsRefusedNamingTheParameter) {
  CategoryRecord first = stored("first");
  ASSERT_EQ(first.id, 1);  // what "1 OR 1=1" would be read as
  GoodsCategoryMap::instance()->bind(getDb(), "5001", first.id);
  for (const std::string& bad : {std::string("1 OR 1=1"), std::string(""), std::string("-1"), std::string(" 1"),
                                 std::string("99999999999")}) {
    for (const auto& [action, parameter] : std::vector<std::pair<std::string, std::string>>{
             {"del", "id"}, {"update", "id"}, {"bind", "cg_id"}, {"bindLst", "cg_id"}}) {
      Json::Value reply = category(action, {{parameter, bad}, {"name", "changed"}, {"item_id", "5002"}});
      EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << action << " " << bad;
      EXPECT_NE(reply["MSG"].asString().find(parameter), std::string::npos) << reply["MSG"].asString();
      EXPECT_FALSE(reply.isMember("ITEM_LIST")) << action;
    }
  }
  EXPECT_EQ(Category::instance()->get(first.id).name, "first");
  EXPECT_EQ(rows("category", first.id), 1);
  EXPECT_EQ(count("select count(*) as `num` from `c_g_bind`"), 1);
  EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf("5002"), 0);
}

TEST_F(CategoryActions, BindNeedsAnItemIdAndAStoredCategory) {
  const std::string id = std::to_string(stored("cards").id);
  for (const auto& form : std::vector<std::vector<std::pair<std::string, std::string>>>{
           {{"cg_id", id}},
           {{"cg_id", id}, {"item_id", ""}},
           {{"cg_id", id}, {"item_id", "12a"}},
           {{"cg_id", "0"}, {"item_id", "5001"}},
           {{"cg_id", std::to_string(std::stoi(id) + 1)}, {"item_id", "5001"}}}) {
    Json::Value reply = category("bind", form);
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << formOf(form);
    EXPECT_FALSE(reply["MSG"].asString().empty());
  }
  EXPECT_EQ(count("select count(*) as `num` from `c_g_bind`"), 0);
  EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf(""), 0);
  EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf("5001"), 0);
  // A marketplace item id may be longer than any int.
  EXPECT_EQ(category("bind", {{"cg_id", id}, {"item_id", "123456789012345"}}), success());
}

TEST_F(CategoryActions, ACategoryWithUnsentCardsIsKeptOneWithoutGoesWithItsStock) {
  CategoryRecord kept = stored("kept");
  CategoryRecord gone = stored("gone");
  for (const CategoryRecord& record : {kept, gone}) {
    card(record.id, "order 1");
    card(record.id, "order 2");
    GoodsCategoryMap::instance()->bind(getDb(), std::to_string(5000 + record.id), record.id);
  }
  card(kept.id, "");
  card(kept.id, "");

  Json::Value refused = category("del", {{"id", std::to_string(kept.id)}});
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("还有2张未发送的卡密"), std::string::npos) << refused["MSG"].asString();
  EXPECT_EQ(rows("category", kept.id), 1);
  EXPECT_EQ(rows("items", kept.id), 4);
  EXPECT_EQ(rows("c_g_bind", kept.id), 1);
  EXPECT_TRUE(Category::instance()->contains(kept.id));

  EXPECT_EQ(category("del", {{"id", std::to_string(gone.id)}}), success());
  EXPECT_EQ(rows("category", gone.id), 0);
  EXPECT_EQ(rows("items", gone.id), 0);
  EXPECT_EQ(rows("c_g_bind", gone.id), 0);
  EXPECT_FALSE(Category::instance()->contains(gone.id));
  EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf(std::to_string(5000 + gone.id)), 0);
  // The other category keeps everything.
  EXPECT_EQ(rows("items", kept.id), 4);
  EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf(std::to_string(5000 + kept.id)), kept.id);
}

TEST_F(CategoryActions, TemplatesAndSwitchesTheDeliveryCannotReadAreRefusedNamingTheField) {
  CategoryRecord kept = stored("kept");
  const std::string keptId = std::to_string(kept.id);
  const std::string goodTpl = R"({"cardTpl":"淺東乛乕亄匽 {数据1}\\","goodsTpl":"{卡密内容}"})";
  const std::string goodExt = R"({"ww":1,"email":"1","limit_number":2})";
  struct Case {
    std::string tpl, ext, field;
  };
  for (const Case& bad : std::vector<Case>{{"abc", goodExt, "tpl"},
                                           {"[1]", goodExt, "tpl"},
                                           {"null", goodExt, "tpl"},
                                           {" ", goodExt, "tpl"},
                                           {R"({"cardTpl":["x"]})", goodExt, "tpl"},
                                           {R"({"goodsTpl":{"a":1}})", goodExt, "tpl"},
                                           {goodTpl, "1", "ext"},
                                           {goodTpl, "{\"ww\":1", "ext"},
                                           {goodTpl, R"({"limit_number":"two"})", "ext"},
                                           {goodTpl, R"({"limit_number":[2]})", "ext"}}) {
    for (const std::string& action : {"add", "update"}) {
      Json::Value reply = category(action, {{"id", keptId}, {"name", "changed"}, {"tpl", bad.tpl}, {"ext", bad.ext}});
      EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << action << " " << bad.tpl << " " << bad.ext;
      EXPECT_NE(reply["MSG"].asString().find(bad.field), std::string::npos) << reply["MSG"].asString();
      EXPECT_NE(reply["MSG"].asString().find("未保存"), std::string::npos) << reply["MSG"].asString();
    }
  }
  // A negative purchase limit would read as "no limit"; a mail subject past
  // its bound would be cut by mail servers.
  const std::string longSubject = R"({"mailSubject":")" + std::string(401, 'x') + R"("})";
  for (const auto& [tpl, ext, words] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {goodTpl, R"({"limit_number":-1})", "不能是负数"}, {longSubject, goodExt, "邮件标题太长"}}) {
    for (const std::string& action : {"add", "update"}) {
      Json::Value reply = category(action, {{"id", keptId}, {"name", "changed"}, {"tpl", tpl}, {"ext", ext}});
      EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << action << " " << ext;
      EXPECT_NE(reply["MSG"].asString().find(words), std::string::npos) << reply["MSG"].asString();
    }
  }
  EXPECT_EQ(Category::instance()->all().size(), 1u);
  EXPECT_EQ(Category::instance()->get(kept.id).name, "kept");
  EXPECT_EQ(fileValue("select `name` from `category` where `id`=" + keptId), "kept");

  // GBK characters whose second byte is a backslash or "{" inside the strings are
  // read the way the delivery reads them; empty fields stand for "none".
  EXPECT_EQ(category("update", {{"id", keptId}, {"name", "淺"}, {"tpl", goodTpl}, {"ext", goodExt}}), success());
  EXPECT_EQ(Category::instance()->get(kept.id).tpl, gbk(goodTpl));
  EXPECT_EQ(category("add", {{"name", "plain"}}), success());
  EXPECT_EQ(Category::instance()->all().size(), 2u);
}

TEST_F(CategoryActions, BindAllAnswersEveryBindingByItem) {
  Json::Value none = category("bindAll");
  EXPECT_EQ(none["SUCCESS"], Json::Value(1));
  EXPECT_EQ(none["BINDS"], Json::Value(Json::objectValue));

  const int one = stored("one").id;
  const int two = stored("two").id;
  category("bind", {{"cg_id", std::to_string(one)}, {"item_id", "5001"}});
  category("bind", {{"cg_id", std::to_string(two)}, {"item_id", "123456789012345"}});
  category("bind", {{"cg_id", std::to_string(one)}, {"item_id", "5003"}});
  category("bind", {{"cg_id", std::to_string(two)}, {"item_id", "5003"}});  // moved
  category("bind", {{"cg_id", std::to_string(one)}, {"item_id", "5004"}});
  category("unbind", {{"item_id", "5004"}});

  Json::Value expected(Json::objectValue);
  expected["5001"] = one;
  expected["123456789012345"] = two;
  expected["5003"] = two;
  EXPECT_EQ(category("bindAll")["BINDS"], expected);
  category("del", {{"id", std::to_string(one)}});
  expected.removeMember("5001");
  EXPECT_EQ(category("bindAll")["BINDS"], expected);
}

class CountingSource : public GoodsSource {
 public:
  std::vector<GoodsRecord> page(int page) override {
    ++asked;
    if (page > 1 || empty) return {};
    return {{"101", gbk("月卡"), "http://item/101", "http://img/101"}, {"102", "b", "http://item/102", "i"}};
  }
  int asked = 0;
  bool empty = false;  // nothing on sale
};

TEST_F(CategoryActions, GoodsAreScrapedOncePerRunUnlessFlushIsOne) {
  auto source = std::make_shared<CountingSource>();
  env_.set<GoodsSource>(source);
  Json::Value list = callAction(server_.port(), "getGoodsLst");
  ASSERT_TRUE(list.isArray());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["item_id"].asString(), "101");
  EXPECT_EQ(list[0]["name"].asString(), "月卡");
  EXPECT_EQ(list[0]["url"].asString(), "http://item/101");
  EXPECT_EQ(list[0]["img_url"].asString(), "http://img/101");
  EXPECT_EQ(source->asked, 2);  // page 1, then the empty page 2

  callAction(server_.port(), "getGoodsLst", formOf({{"flush", "0"}}));
  callAction(server_.port(), "getGoodsLst", formOf({{"flush", "yes"}}));
  EXPECT_EQ(source->asked, 2);
  EXPECT_EQ(callAction(server_.port(), "getGoodsLst", formOf({{"flush", "1"}})).size(), 2u);
  EXPECT_EQ(source->asked, 4);
}

TEST_F(CategoryActions, NoGoodsOnSaleAnswersNull) {
  auto source = std::make_shared<CountingSource>();
  source->empty = true;
  env_.set<GoodsSource>(source);
  std::string response = exchange(server_.port(), "GET /?do=getGoodsLst&callback=cb HTTP/1.1\r\n\r\n");
  EXPECT_EQ(bodyOf(response), "cb(null\n)");
}

}  // namespace
}  // namespace Quorvel::testing
