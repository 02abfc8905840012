// The card store on a fresh database: stock counters equal to the real counts
// after every kind of change, pages of a category in id order from either
// end, unsent cards only for a delivery, the refused delete list, and the
// low-stock notice.
#include <gtest/gtest.h>

#include <thread>

#include "base/Charset.h"
#include "store/Category.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/MsgQueue.h"
#include "store/SystemConfig.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class ItemTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    items = Item::instance();
    first = addCategory(gbk("游戏点卡"));
    second = addCategory("second");
  }

  CardRecord card(int cg, const std::string& data, const std::string& sent = "") {
    return addCard(cg, data, "pw-" + data, sent);
  }

  // The counters in the cache and in the table both equal the counted cards.
  void expectCountersTrue(int cg) {
    const std::string where = "from `items` where `cg_id`=" + std::to_string(cg);
    int total = count("select count(*) as `num` " + where);
    int unsent = count("select count(*) as `num` " + where + " and `send_order_id`=''");
    CategoryRecord cached = Category::instance()->get(cg);
    EXPECT_EQ(cached.store_total_num, total) << "category " << cg;
    EXPECT_EQ(cached.store_num, unsent) << "category " << cg;
    const std::string row = "from `category` where `id`=" + std::to_string(cg);
    EXPECT_EQ(count("select `store_total_num` as `num` " + row), total) << "category " << cg;
    EXPECT_EQ(count("select `store_num` as `num` " + row), unsent) << "category " << cg;
  }

  std::vector<int> ids(const std::vector<CardRecord>& cards) {
    std::vector<int> out;
    for (const CardRecord& card : cards) out.push_back(card.id);
    return out;
  }

  // Notices waiting for the seller's mailbox.
  std::vector<std::string> notices() {
    std::vector<std::string> texts;
    auto rows = getDb()->query("select `msg` from `msg_queue` where `type`=1 order by `id`");
    while (rows->next()) texts.push_back((*rows->fetch())["msg"].toString());
    return texts;
  }

  std::shared_ptr<Item> items;
  int first = 0;
  int second = 0;
};

TEST_F(ItemTest, CountersFollowAddUpdateMoveRemoveAndRemoveMany) {
  CardRecord a = card(first, "a");
  CardRecord b = card(first, "b", "order 1");
  CardRecord c = card(first, "c");
  card(second, "d");
  expectCountersTrue(first);
  expectCountersTrue(second);
  EXPECT_EQ(Category::instance()->get(first).store_num, 2);

  // A delivered card made unsent again.
  b.send_order_id = "";
  items->update(getDb(), b);
  expectCountersTrue(first);
  EXPECT_EQ(Category::instance()->get(first).store_num, 3);

  // Moved to the other category: both categories follow.
  a.cg_id = second;
  items->update(getDb(), a);
  expectCountersTrue(first);
  expectCountersTrue(second);
  EXPECT_EQ(items->get(getDb(), a.id).cg_id, second);

  items->remove(getDb(), c.id);
  expectCountersTrue(first);

  CardRecord e = card(first, "e");
  CardRecord f = card(second, "f");
  items->removeMany(getDb(), std::to_string(e.id) + "," + std::to_string(f.id) + "," + std::to_string(a.id));
  expectCountersTrue(first);
  expectCountersTrue(second);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 2);
}

// A database made from an older template has neither the count table nor its
// triggers; the counters and pages must still be right.
TEST_F(ItemTest, DatabaseWithoutCountTableStillCountsCards) {
  for (const char* sql : {"drop trigger `items_stock_insert`", "drop trigger `items_stock_delete`",
                          "drop trigger `items_stock_update`", "drop table `item_stock`"}) {
    getDb()->execute(std::make_shared<SQL>(sql));
  }
  CardRecord a = card(first, "a");
  card(first, "b", "order 1");
  card(first, "c");
  expectCountersTrue(first);
  EXPECT_EQ(Category::instance()->get(first).store_num, 2);
  EXPECT_EQ(items->pageCount(getDb(), first, 2), 2);
  items->remove(getDb(), a.id);
  expectCountersTrue(first);
  EXPECT_EQ(items->pageCount(getDb(), first, 2), 1);
}

TEST_F(ItemTest, IdsWithoutACardChangeNoCounterAndCreateNoCategory) {
  card(first, "a");
  // Counters put out of step on purpose: a refresh would put them right.
  Category::instance()->setCounters(getDb(), first, 50, 60);
  items->remove(getDb(), 9999);
  items->removeMany(getDb(), "9998,9999");
  EXPECT_EQ(Category::instance()->get(first).store_num, 50);
  EXPECT_EQ(Category::instance()->all().size(), 2u);
  EXPECT_FALSE(Category::instance()->contains(0));

  CardRecord ghost;
  ghost.id = 9999;
  ghost.cg_id = first;
  EXPECT_THROW(items->update(getDb(), ghost), Exception);
  EXPECT_EQ(Category::instance()->get(first).store_num, 50);

  // Cards of a category that is not stored: counted, but no record appears.
  card(77, "orphan");
  EXPECT_FALSE(Category::instance()->contains(77));
  EXPECT_EQ(count("select count(*) as `num` from `category`"), 2);
}

// The refusal itself, not whatever SQLite would make of the text: most of
// these lists are SQL syntax errors, which would raise too (a DbException,
// with SQLite's message), and some are valid SQL.
TEST_F(ItemTest, RemoveManyRefusesAnythingButDecimalIdsBeforeAnySql) {
  CardRecord a = card(first, "a");
  card(second, "b");
  for (const char* bad : {"", "1,", ",1", "1,,2", "1 ,2", "1) or (1=1", "0x10", "-1", "1;drop table `items`"}) {
    try {
      items->removeMany(getDb(), bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (DbException e) {
      ADD_FAILURE() << "reached the database: " << bad << ": " << e.message();
    } catch (Exception e) {
      EXPECT_EQ(e.message(), gbk("要删除的卡密必须是用逗号分隔的数字 ID，未删除任何卡密。")) << bad;
    }
  }
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 2);
  expectCountersTrue(first);
  EXPECT_TRUE(Item::isIdList("7"));
  EXPECT_TRUE(Item::isIdList(std::to_string(a.id) + ",12,0"));
}

// A list longer than one statement's group of ids: every listed card goes,
// across the groups, and nothing else; the counters of both categories follow.
TEST_F(ItemTest, RemoveManyDeletesLongListsGroupByGroup) {
  std::vector<int> kept, removed;
  getDb()->begin();
  for (size_t k = 0; k < 2 * Item::kIdsPerStatement + 30; ++k) {
    CardRecord added = card(k % 2 ? first : second, std::to_string(k));
    (k % 5 == 0 ? kept : removed).push_back(added.id);
  }
  getDb()->commit();
  std::string list;
  for (int id : removed) list += std::to_string(id) + ",";
  list += "999999,99999999999999999999999";  // no such cards: no harm
  items->removeMany(getDb(), list);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), static_cast<int>(kept.size()));
  for (int id : kept) EXPECT_EQ(items->get(getDb(), id).id, id);
  expectCountersTrue(first);
  expectCountersTrue(second);
}

// The length of a list is refused before anything is built from it.
TEST_F(ItemTest, RemoveManyRefusesMoreThanItsLimitOfIds) {
  CardRecord a = card(first, "a");
  std::string list = std::to_string(a.id);
  for (size_t k = 1; k < Item::kMaxRemovedIds; ++k) list += ",1";
  EXPECT_NO_THROW(items->removeMany(getDb(), list));  // exactly the limit
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);

  CardRecord b = card(first, "b");
  list = std::to_string(b.id) + list.substr(list.find(',')) + ",1";
  try {
    items->removeMany(getDb(), list);
    ADD_FAILURE() << "a list of " << Item::kMaxRemovedIds + 1 << " ids was accepted";
  } catch (Exception e) {
    EXPECT_NE(e.message().find(gbk("一次最多删除 100000 张卡密")), std::string::npos) << e.message();
  }
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);
  expectCountersTrue(first);
}

TEST_F(ItemTest, TakeUnsentNeverReturnsADeliveredCard) {
  card(first, "1", "order 9");
  CardRecord u1 = card(first, "2");
  card(first, "3", " ");
  CardRecord u2 = card(first, "4");
  card(first, "5", "order 10");
  card(second, "6");
  EXPECT_EQ(ids(items->unsentCards(getDb(), first, 10)), (std::vector<int>{u1.id, u2.id}));
  EXPECT_EQ(ids(items->unsentCards(getDb(), first, 1)), std::vector<int>{u1.id});
  EXPECT_TRUE(items->unsentCards(getDb(), first, 0).empty());
  EXPECT_TRUE(items->unsentCards(getDb(), first, -1).empty());  // not "no limit"
  for (const CardRecord& taken : items->unsentCards(getDb(), first, 10)) EXPECT_EQ(taken.send_order_id, "");
}

TEST_F(ItemTest, RemarkChangesOnlyTheCardsOfTheCategoryWithThatMark) {
  const std::string reserved = Item::reservedMark("100");
  EXPECT_EQ(reserved, gbk("发货中：订单号：100"));
  EXPECT_EQ(Item::deliveredMark("100"), gbk("已发货：订单号：100"));
  CardRecord a = card(first, "a", reserved);
  CardRecord b = card(first, "b", Item::deliveredMark("100"));  // an earlier delivery of the same order
  CardRecord c = card(first, "c", reserved);
  CardRecord d = card(second, "d", reserved);
  CardRecord e = card(first, "e");
  std::shared_ptr<IDb> db = getDb();
  db->exec("begin immediate transaction");
  EXPECT_EQ(items->remark(getDb(), first, reserved, Item::deliveredMark("100")), (std::vector<int>{a.id, c.id}));
  db->exec("commit transaction");
  EXPECT_EQ(items->get(getDb(), c.id).send_order_id, Item::deliveredMark("100"));
  EXPECT_EQ(items->get(getDb(), d.id).send_order_id, reserved) << "another category";
  EXPECT_EQ(items->get(getDb(), e.id).send_order_id, "");
  EXPECT_EQ(items->markedWith(getDb(), first, Item::deliveredMark("100")), (std::vector<int>{a.id, b.id, c.id}));

  EXPECT_EQ(items->remark(getDb(), second, reserved, ""), std::vector<int>{d.id});
  EXPECT_EQ(items->get(getDb(), d.id).send_order_id, "");
  expectCountersTrue(first);
  expectCountersTrue(second);
  EXPECT_TRUE(items->remark(getDb(), second, reserved, "").empty());
  EXPECT_THROW(items->remark(getDb(), first, "", "x"), Exception) << "unsent cards are never re-marked in bulk";
}

TEST_F(ItemTest, PagesComeInIdOrderFromEitherEnd) {
  // 41 cards, some delivered, some ids missing: index order would differ
  // from id order.
  std::vector<int> all;
  getDb()->begin();  // one commit for the lot; each add nests in it
  for (int k = 1; k <= 45; ++k) {
    CardRecord added = card(first, std::to_string(k), k % 3 == 0 ? "order " + std::to_string(50 - k) : "");
    all.push_back(added.id);
  }
  for (int gone : {44, 30, 17, 2}) {
    items->remove(getDb(), all[gone]);
    all.erase(all.begin() + gone);
  }
  card(second, "other");
  getDb()->commit();
  ASSERT_EQ(all.size(), 41u);
  expectCountersTrue(first);

  EXPECT_EQ(items->pageCount(getDb(), first, 40), 2);
  EXPECT_EQ(items->pageCount(getDb(), first, 41), 1);
  EXPECT_EQ(items->pageCount(getDb(), first, 0), 41);
  EXPECT_EQ(items->pageCount(getDb(), 99, 40), 0);
  const int cards = items->cardCount(getDb(), first);
  EXPECT_EQ(cards, 41);
  EXPECT_EQ(items->cardCount(getDb(), 99), 0);

  // Every page size and page, against the expected slice.
  for (int size : {1, 3, 7, 20, 40, 41, 50}) {
    int pages = Item::pagesOf(cards, size);
    for (int page = 1; page <= pages; ++page) {
      std::vector<int> expected(all.begin() + (page - 1) * size,
                                all.begin() + std::min<size_t>(all.size(), static_cast<size_t>(page) * size));
      EXPECT_EQ(ids(items->list(getDb(), first, page, size, cards)), expected) << "size " << size << " page " << page;
    }
  }
  EXPECT_EQ(ids(items->list(getDb(), first, 5, 40, cards)), std::vector<int>{all.back()});  // past the end: the last page
  EXPECT_EQ(ids(items->list(getDb(), first, 0, 40, cards)), ids(items->list(getDb(), first, 1, 40, cards)));
  EXPECT_EQ(ids(items->list(getDb(), first, -3, 40, cards)), ids(items->list(getDb(), first, 1, 40, cards)));
  EXPECT_TRUE(items->list(getDb(), 99, 1, 40, 0).empty());
  EXPECT_EQ(items->list(getDb(), first, 1, 40, cards)[0].data2, "pw-1");
}

// Deep pages find their cards through the counts per id range: every page,
// from either end, equals the plain offset query, with two categories
// interleaved across the range boundaries (ids 1023, 1024, 1025 ...), after
// deletes and moves between categories; pages of an empty category and past
// the end too. The same again once the range counts are gone (an older
// database), which pages by skipping cards.
class ItemPages : public ItemTest {
 protected:
  // The category's cards `from` places after its first, by offset.
  std::vector<int> reference(int cg, std::int64_t from, int size) {
    std::vector<int> out;
    auto rows = getDb()->query(std::make_shared<SQL>("select `id` from `items` where `cg_id`=? order by `id` limit ?,?")
                                   ->bind(cg)
                                   ->bind(from)
                                   ->bind(size));
    while (rows->next()) out.push_back(rows->intAt(0));
    return out;
  }

  void expectEveryPageAsByOffset(int cg) {
    const int cards = items->cardCount(getDb(), cg);
    for (int size : {1, 7, 40, 1023, 1024, 1500, 5000}) {
      const int pages = Item::pagesOf(cards, size);
      for (int page = 1; page <= pages; ++page) {
        EXPECT_EQ(ids(items->list(getDb(), cg, page, size, cards)), reference(cg, std::int64_t(page - 1) * size, size))
            << "category " << cg << " size " << size << " page " << page;
      }
      if (pages > 0) {
        EXPECT_EQ(ids(items->list(getDb(), cg, pages + 3, size, cards)), reference(cg, std::int64_t(pages - 1) * size, size));
      }
    }
    // Pages past the cards the caller counted are empty, as by offset.
    EXPECT_EQ(ids(items->list(getDb(), cg, 2, 40, cards + 80)), reference(cg, 40, 40));
  }

  // 4,000 cards from id 1: two of three in the first category, the others
  // in the second; then holes and moves around the boundaries of the 1024-id
  // ranges, and a range where the first category keeps only its last id.
  void fill() {
    getDb()->begin();
    for (int k = 1; k <= 4000; ++k) card(k % 3 == 0 ? second : first, std::to_string(k));
    for (int id : {1023, 2049, 3000, 3072}) items->remove(getDb(), id);
    for (int id = 1030; id <= 2040; ++id) items->remove(getDb(), id);
    for (int id = 2050; id < 3071; ++id) {
      if (items->get(getDb(), id).cg_id == first) items->remove(getDb(), id);  // a range where only its last id is of the first category
    }
    for (int id : {1, 1022, 1024, 1025, 2047, 2048, 3999}) {
      CardRecord moved = items->get(getDb(), id);
      moved.cg_id = moved.cg_id == first ? second : first;
      items->update(getDb(), moved);
    }
    getDb()->commit();
  }
};

TEST_F(ItemPages, EveryPageEqualsTheOffsetQuery) {
  fill();
  EXPECT_EQ(items->cardCount(getDb(), first) + items->cardCount(getDb(), second), count("select count(*) as `num` from `items`"));
  expectEveryPageAsByOffset(first);
  expectEveryPageAsByOffset(second);
  // The counts equal the cards of each range.
  EXPECT_EQ(count("select count(*) as `num` from (select `cg_id`, `id`>>10 as `b`, count(*) as `t` from `items` "
                  "group by 1,2) c left join `item_pages` p on p.`cg_id`=c.`cg_id` and p.`bucket`=c.`b` "
                  "where p.`total` is not c.`t`"),
            0);
  EXPECT_EQ(count("select count(*) as `num` from `item_pages` where `total`<0"), 0);
  const int empty = addCategory("empty");
  EXPECT_TRUE(items->list(getDb(), empty, 1, 40, 0).empty());
  EXPECT_TRUE(items->list(getDb(), empty, 1, 40, 5).empty()) << "a count larger than the stock";
}

TEST_F(ItemPages, AnOlderDatabaseWithoutRangeCountsPagesTheSame) {
  for (const char* sql : {"drop trigger `items_pages_insert`", "drop trigger `items_pages_delete`",
                          "drop trigger `items_pages_update`", "drop table `item_pages`"}) {
    getDb()->execute(std::make_shared<SQL>(sql));
  }
  fill();
  expectEveryPageAsByOffset(first);
  expectEveryPageAsByOffset(second);
}

// Start-up gives an older database the range counts, filled from its cards,
// and its pages and later changes follow them.
TEST_F(ItemPages, StartUpAddsAndFillsTheRangeCounts) {
  getDb()->exec("drop trigger `items_pages_insert`; drop trigger `items_pages_delete`;"
                "drop trigger `items_pages_update`; drop table `item_pages`");
  fill();
  releaseDb();
  upgradeDatabase();
  EXPECT_EQ(fileValue("select sum(`total`) from `item_pages`"), fileValue("select count(*) from `items`"));
  EXPECT_EQ(fileValue("select `total` from `item_pages` where `cg_id`=" + std::to_string(first) + " and `bucket`=0"),
            std::to_string(count("select count(*) as `num` from `items` where `id`<1024 and `cg_id`=" +
                                 std::to_string(first))));
  upgradeDatabase();  // a database that has them is left alone
  EXPECT_EQ(fileValue("select sum(`total`) from `item_pages`"), fileValue("select count(*) from `items`"));
  expectEveryPageAsByOffset(first);
  CardRecord moved = items->get(getDb(), 5);
  moved.cg_id = second;
  items->update(getDb(), moved);
  items->remove(getDb(), 7);
  card(first, "new");
  expectEveryPageAsByOffset(first);
  expectEveryPageAsByOffset(second);
}

class LowStockNotice : public ItemTest {
 protected:
  void SetUp() override {
    ItemTest::SetUp();
    SystemConfig::instance()->set(getDb(), "notice_type_email", "1");
    SystemConfig::instance()->set(getDb(), "notice_mailto", "seller@example.com");
    SystemConfig::instance()->set(getDb(), "notice_store_num", "5");
    for (int k = 0; k < 4; ++k) cards.push_back(card(first, std::to_string(k)));
  }

  // The delivery's update of a card it sent: the flag set around it.
  void deliver(CardRecord card) {
    card.send_order_id = "order";
    items->setLowStockFlag(true);
    items->update(getDb(), card);
    items->setLowStockFlag(false);
  }

  std::vector<CardRecord> cards;
};

TEST_F(LowStockNotice, TheDeliveryTellsTheSellerWithTheSettingAsStored) {
  deliver(cards[0]);
  ASSERT_EQ(notices().size(), 1u);
  EXPECT_EQ(notices()[0], gbk("游戏点卡的库存量已经不足5件，当前为3件。"));
  EXPECT_FALSE(items->lowStockFlag());
}

TEST_F(LowStockNotice, NoNoticeWithTheFlagClearOrEnoughStock) {
  CardRecord changed = cards[0];
  changed.send_order_id = "by hand";
  items->update(getDb(), changed);  // a change from the web UI
  card(first, "new");
  items->remove(getDb(), cards[1].id);
  EXPECT_TRUE(notices().empty());

  SystemConfig::instance()->set(getDb(), "notice_store_num", "2");
  deliver(cards[2]);  // two unsent left: not fewer than two
  EXPECT_TRUE(notices().empty());
}

TEST_F(LowStockNotice, TheFlagBelongsToTheThreadThatSetIt) {
  items->setLowStockFlag(true);
  std::thread([&] {
    CardRecord changed = cards[0];
    changed.send_order_id = "by hand";
    items->update(getDb(), changed);
    releaseDb();
  }).join();
  items->setLowStockFlag(false);
  EXPECT_TRUE(notices().empty());
}

}  // namespace
}  // namespace Quorvel
