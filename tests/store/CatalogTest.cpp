// The category, goods and binding stores on a fresh database: the default
// record, writes that fail or name nothing, bindings that move, and the goods
// refresh with a source standing in for the marketplace.
#include <gtest/gtest.h>

#include <functional>

#include "base/Charset.h"
#include "store/Category.h"
#include "store/Item.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class CatalogTest : public StoreFixture {
 protected:
  CategoryRecord stored(const std::string& name) {
    CategoryRecord record;
    record.name = name;
    record.type = CategoryType::kText;
    record.flg = CategorySwitch::kOn;
    record.tpl = R"({"email":"x"})";
    record.ext = R"({"limit":1})";
    Category::instance()->add(getDb(), record);
    return record;
  }
};

TEST_F(CatalogTest, UnknownIdGivesTheDefaultRecordAndAnAddedOneReadsBackWhole) {
  std::shared_ptr<Category> categories = Category::instance();
  CategoryRecord none = categories->get(42);
  EXPECT_EQ(none.id, 0);
  EXPECT_EQ(none.name, "");
  EXPECT_EQ(none.tpl, "");
  EXPECT_EQ(none.store_num, 0);
  EXPECT_EQ(none.store_total_num, 0);
  EXPECT_FALSE(categories->contains(42));

  CategoryRecord added = stored(gbk("点卡"));
  EXPECT_GT(added.id, 0);
  // Read back from the table, not only from the cache.
  categories->load(getDb());
  CategoryRecord again = categories->get(added.id);
  EXPECT_EQ(again.id, added.id);
  EXPECT_EQ(again.name, gbk("点卡"));
  EXPECT_EQ(again.type, CategoryType::kText);
  EXPECT_EQ(again.flg, CategorySwitch::kOn);
  EXPECT_EQ(again.tpl, R"({"email":"x"})");
  EXPECT_EQ(again.ext, R"({"limit":1})");
  EXPECT_EQ(Category::toJson(again)["name"].asString(), gbk("点卡"));
  EXPECT_TRUE(Category::toJson(again)["store_total_num"].isInt());
}

TEST_F(CatalogTest, WritesThatNameNoCategoryChangeNothing) {
  std::shared_ptr<Category> categories = Category::instance();
  CategoryRecord kept = stored("kept");
  CategoryRecord ghost;
  ghost.id = kept.id + 1;
  ghost.name = "ghost";
  EXPECT_THROW(categories->update(getDb(), ghost), Exception);
  ghost.id = 0;
  EXPECT_THROW(categories->update(getDb(), ghost), Exception);
  categories->setCounters(getDb(), kept.id + 5, 3, 4);
  EXPECT_EQ(categories->all().size(), 1u);
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 1);
  EXPECT_FALSE(categories->contains(0));
}

TEST_F(CatalogTest, AFailingInsertRaisesAndCachesNothing) {
  std::shared_ptr<Category> categories = Category::instance();
  getDb()->exec("create trigger `refuse` before insert on `category` begin select raise(abort, 'refused'); end");
  CategoryRecord record;
  record.name = "x";
  try {
    categories->add(getDb(), record);
    FAIL() << "the insert was refused";
  } catch (DbException e) {
    EXPECT_NE(e.message().find("refused"), std::string::npos);
  }
  EXPECT_TRUE(categories->all().empty());
}

TEST_F(CatalogTest, CountersAloneDoNotPutBackAnOlderName) {
  std::shared_ptr<Category> categories = Category::instance();
  CategoryRecord record = stored("old");
  CategoryRecord renamed = record;
  renamed.name = "new";
  categories->update(getDb(), renamed);
  categories->setCounters(getDb(), record.id, 7, 9);
  categories->load(getDb());
  CategoryRecord now = categories->get(record.id);
  EXPECT_EQ(now.name, "new");
  EXPECT_EQ(now.store_num, 7);
  EXPECT_EQ(now.store_total_num, 9);

  categories->remove(getDb(), record.id);
  EXPECT_FALSE(categories->contains(record.id));
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 0);
}

// Counters are compared with the row, never with the cache: a row left behind
// by a rollback the cache did not follow is still put right.
TEST_F(CatalogTest, CountersAreWrittenOnlyWhereTheRowDiffers) {
  std::shared_ptr<Category> categories = Category::instance();
  CategoryRecord record = stored("counted");
  std::shared_ptr<IDb> db = getDb();
  auto changes = [&db] {
    auto rows = db->query("select total_changes() as `num`");
    return rows->next() ? (*rows->fetch())["num"].toInt() : -1;
  };
  categories->setCounters(getDb(), record.id, 7, 9);
  const int before = changes();
  categories->setCounters(getDb(), record.id, 7, 9);
  EXPECT_EQ(changes(), before) << "the same counters again write nothing";

  db->exec("update `category` set `store_num`=1, `store_total_num`=NULL where `id`=" + std::to_string(record.id));
  const int behind = changes();
  categories->setCounters(getDb(), record.id, 7, 9);
  EXPECT_EQ(changes(), behind + 1);
  EXPECT_EQ(fileValue("select `store_num` || '/' || `store_total_num` from `category` where `id`=" +
                      std::to_string(record.id)),
            "7/9");
  EXPECT_EQ(categories->get(record.id).store_num, 7);
}

// A category goes whole or not at all: a delete that fails at its last step
// leaves the delivered cards, the bindings and both caches as they were.
TEST_F(CatalogTest, RemovingACategoryTakesItsStockOrNothing) {
  std::shared_ptr<Category> categories = Category::instance();
  std::shared_ptr<GoodsCategoryMap> bindings = GoodsCategoryMap::instance();
  CategoryRecord record = stored("sold out");
  CategoryRecord other = stored("other");
  const std::string id = std::to_string(record.id);
  getDb()->exec("insert into `items` (`cg_id`,`send_order_id`) values (" + id + ",'order 1'),(" + id + ",'order 2')," +
                "(" + std::to_string(other.id) + ",'')");
  bindings->bind(getDb(), "1001", record.id);
  bindings->bind(getDb(), "1002", other.id);
  auto rows = [&](const std::string& where) { return count("select count(*) as `num` from " + where); };

  getDb()->exec("create trigger `refuse` before delete on `category` begin select raise(abort, 'refused'); end");
  EXPECT_THROW(categories->remove(getDb(), record.id), DbException);
  EXPECT_TRUE(categories->contains(record.id));
  EXPECT_EQ(bindings->categoryOf("1001"), record.id);
  EXPECT_EQ(rows("`items` where `cg_id`=" + id), 2);
  EXPECT_EQ(rows("`c_g_bind` where `cg_id`=" + id), 1);

  getDb()->exec("drop trigger `refuse`");
  categories->remove(getDb(), record.id);
  EXPECT_FALSE(categories->contains(record.id));
  EXPECT_EQ(bindings->categoryOf("1001"), 0);
  EXPECT_EQ(rows("`items` where `cg_id`=" + id), 0);
  EXPECT_EQ(rows("`c_g_bind` where `cg_id`=" + id), 0);
  EXPECT_EQ(rows("`category` where `id`=" + id), 0);
  // The other category is untouched; its unsent card keeps it.
  EXPECT_EQ(bindings->categoryOf("1002"), other.id);
  EXPECT_EQ(rows("`items`"), 1);
  try {
    categories->remove(getDb(), other.id);
    FAIL() << "a category with an unsent card was removed";
  } catch (DbException e) {
    FAIL() << e.message();
  } catch (Exception e) {
    EXPECT_EQ(e.message(), gbk("该分类还有1张未发送的卡密，请先删除或转移这些卡密，再删除分类。"));
  }
  EXPECT_TRUE(categories->contains(other.id));
  EXPECT_EQ(rows("`items`"), 1);
  EXPECT_EQ(rows("`c_g_bind`"), 1);
}

TEST_F(CatalogTest, ACategoryWithCardsInFlightIsNotRemoved) {
  CategoryRecord record = stored("busy");
  const std::string id = std::to_string(record.id);
  CardRecord card;
  card.cg_id = record.id;
  card.send_order_id = Item::reservedMark("100");
  Item::instance()->add(getDb(), card);
  try {
    Category::instance()->remove(getDb(), record.id);
    FAIL() << "removed with a card in flight";
  } catch (Exception e) {
    EXPECT_EQ(e.message(), gbk("该分类还有1张卡密正在发货中，请等发货结束后再删除分类。"));
  }
  EXPECT_EQ(count("select count(*) as `num` from `items` where `cg_id`=" + id), 1);
  card.send_order_id = Item::deliveredMark("100");
  Item::instance()->update(getDb(), card);
  Category::instance()->remove(getDb(), record.id);
  EXPECT_FALSE(Category::instance()->contains(record.id));
}

TEST_F(CatalogTest, TemplatesAreReadAsJsonThroughUtf8) {
  // 淺 ends in a backslash byte and 乕 in "[": read byte-wise, the JSON
  // string would take the backslash for an escape.
  const std::string text = gbk(R"({"cardTpl":"淺{数据1}乕","goodsTpl":3,"list":[1],"on":true})");
  const Json::Value tpl = Category::parseJson(text);
  ASSERT_TRUE(tpl.isObject());
  EXPECT_EQ(Category::jsonText(tpl["cardTpl"]), gbk("淺{数据1}乕"));
  EXPECT_EQ(Category::jsonText(tpl["goodsTpl"]), "3");
  EXPECT_EQ(Category::jsonText(tpl["on"]), "true");
  EXPECT_EQ(Category::jsonText(tpl["missing"]), "");
  EXPECT_THROW(Category::jsonText(tpl["list"]), std::exception);
  EXPECT_TRUE(Category::parseJson("").isNull());
  EXPECT_TRUE(Category::parseJson("{not json").isNull());
  EXPECT_THROW(Category::parseJson("{\"a\":\"\x81\"}"), Exception) << "not GBK";
}

TEST_F(CatalogTest, BindingAgainMovesTheItemAndLeavesOneRow) {
  std::shared_ptr<GoodsCategoryMap> bindings = GoodsCategoryMap::instance();
  bindings->bind(getDb(), "1001", 1);
  bindings->bind(getDb(), "1002", 1);
  bindings->bind(getDb(), "1001", 2);
  EXPECT_EQ(count("select count(*) as `num` from `c_g_bind` where `item_id`='1001'"), 1);
  EXPECT_EQ(bindings->categoryOf("1001"), 2);
  EXPECT_EQ(bindings->itemsOf(1), std::vector<std::string>{"1002"});
  EXPECT_EQ(bindings->itemsOf(2), std::vector<std::string>{"1001"});
  EXPECT_TRUE(bindings->itemsOf(3).empty());

  bindings->unbind(getDb(), "1002");
  EXPECT_EQ(bindings->categoryOf("1002"), 0);
  bindings->load(getDb());
  EXPECT_EQ(bindings->categoryOf("1001"), 2);
  EXPECT_TRUE(bindings->itemsOf(1).empty());
}

TEST_F(CatalogTest, AFailingBindKeepsTheOldBindingInTableAndCache) {
  std::shared_ptr<GoodsCategoryMap> bindings = GoodsCategoryMap::instance();
  bindings->bind(getDb(), "1001", 1);
  getDb()->exec("create trigger `refuse` before insert on `c_g_bind` begin select raise(abort, 'refused'); end");
  EXPECT_THROW(bindings->bind(getDb(), "1001", 2), DbException);
  EXPECT_EQ(bindings->categoryOf("1001"), 1);
  EXPECT_EQ(count("select count(*) as `num` from `c_g_bind` where `item_id`='1001' and `cg_id`=1"), 1);
}

// Pages of made-up items: `pages[k]` is page k + 1; later pages are empty
// unless `repeatLast` says the site shows its last page for every number.
class FakeSource : public GoodsSource {
 public:
  std::vector<GoodsRecord> page(int page) override {
    asked.push_back(page);
    if (failAt == page) throw Exception("the marketplace did not answer");
    if (page <= static_cast<int>(pages.size())) return pages[page - 1];
    if (repeatLast && !pages.empty()) return pages.back();
    if (endless) return {item(std::to_string(page))};
    return {};
  }

  static GoodsRecord item(const std::string& id) {
    return {id, gbk("宝贝") + id, "http://item/" + id, "http://img/" + id};
  }

  std::vector<std::vector<GoodsRecord>> pages;
  bool repeatLast = false;
  bool endless = false;
  int failAt = 0;
  std::vector<int> asked;
};

class GoodsRefresh : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    getDb()->exec("insert into `goods` (`url`,`item_id`,`name`,`img_url`) values ('u','9','old','i')");
    Goods::instance()->load(getDb());
  }

  std::vector<std::string> tableIds() {
    std::vector<std::string> ids;
    auto rows = getDb()->query("select `item_id` from `goods`");
    while (rows->next()) ids.push_back((*rows->fetch())["item_id"].toString());
    return ids;
  }

  std::vector<std::string> listIds() {
    std::vector<std::string> ids;
    for (const GoodsRecord& record : Goods::instance()->items()) ids.push_back(record.item_id);
    return ids;
  }

  std::shared_ptr<FakeSource> source = std::make_shared<FakeSource>();
};

TEST_F(GoodsRefresh, FirstListOfARunScrapesThenServesMemoryUntilForced) {
  source->pages = {{FakeSource::item("1"), FakeSource::item("2")}, {FakeSource::item("3")}};
  Json::Value list = Goods::instance()->list(getDb(), *source, false);
  EXPECT_EQ(source->asked, (std::vector<int>{1, 2, 3}));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]["item_id"].asString(), "1");
  EXPECT_EQ(list[2]["url"].asString(), "http://item/3");
  EXPECT_EQ(list[2]["img_url"].asString(), "http://img/3");
  EXPECT_EQ(list[2]["name"].asString(), gbk("宝贝3"));
  EXPECT_EQ(tableIds(), (std::vector<std::string>{"1", "2", "3"}));

  source->pages = {{FakeSource::item("4")}};
  Goods::instance()->list(getDb(), *source, false);
  EXPECT_EQ(source->asked.size(), 3u);  // from memory
  EXPECT_EQ(Goods::instance()->list(getDb(), *source, true).size(), 1u);
  EXPECT_EQ(source->asked.size(), 5u);
  EXPECT_EQ(tableIds(), std::vector<std::string>{"4"});
}

TEST_F(GoodsRefresh, AnEmptyFirstPageEmptiesTheTableAndTheListIsNull) {
  EXPECT_TRUE(Goods::instance()->list(getDb(), *source, false).isNull());
  EXPECT_TRUE(tableIds().empty());
  EXPECT_TRUE(Goods::instance()->refreshed());
}

TEST_F(GoodsRefresh, StopsWhenAPageRepeatsThePageBeforeIt) {
  source->pages = {{FakeSource::item("1")}, {FakeSource::item("2")}};
  source->repeatLast = true;
  Goods::instance()->refresh(getDb(), *source);
  EXPECT_EQ(source->asked, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(tableIds(), (std::vector<std::string>{"1", "2"}));
}

TEST_F(GoodsRefresh, StopsAtThePageLimitAndKeepsWhatItRead) {
  source->endless = true;
  Goods::instance()->setPageLimit(5);
  Goods::instance()->refresh(getDb(), *source);
  EXPECT_EQ(source->asked, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(tableIds(), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  EXPECT_TRUE(Goods::instance()->refreshed());
}

TEST_F(GoodsRefresh, AFailureKeepsTheTableAndLeavesTheFlagClear) {
  source->pages = {{FakeSource::item("1")}, {FakeSource::item("2")}};
  source->failAt = 2;
  Goods::instance()->refresh(getDb(), *source);
  EXPECT_EQ(tableIds(), std::vector<std::string>{"9"});
  EXPECT_EQ(listIds(), std::vector<std::string>{"1"});  // what was read before the failure
  EXPECT_FALSE(Goods::instance()->refreshed());

  // A table that refuses the rows: nothing of the rewrite stays.
  source->failAt = 0;
  getDb()->exec("create trigger `refuse` before insert on `goods` begin select raise(abort, 'refused'); end");
  Goods::instance()->refresh(getDb(), *source);
  EXPECT_EQ(tableIds(), std::vector<std::string>{"9"});
  EXPECT_FALSE(Goods::instance()->refreshed());
}

}  // namespace
}  // namespace Quorvel
