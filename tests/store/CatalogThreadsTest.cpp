// The category and binding caches and the card counters used from two
// threads at once, each on its own connection, as the server thread and the
// delivery daemon use them. Run under ThreadSanitizer by scripts/tsan.sh.
#include <gtest/gtest.h>

#include <thread>

#include "store/Category.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/Savepoint.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class CatalogThreads : public StoreFixture {};

TEST_F(CatalogThreads, EditsAndReadsOnTwoThreadsKeepCachesAndCountersWhole) {
  CategoryRecord shared;
  shared.name = "shared";
  Category::instance()->add(getDb(), shared);
  constexpr int kRounds = 8;

  // The "web UI": adds categories and cards, renames, binds.
  std::thread editor([&] {
    for (int k = 0; k < kRounds; ++k) {
      CategoryRecord record;
      record.name = "c" + std::to_string(k);
      Category::instance()->add(getDb(), record);
      CardRecord card;
      card.cg_id = shared.id;
      Item::instance()->add(getDb(), card);
      // As the category edit does: the counters are taken again from the
      // cards in the same unit, so the stale ones in `renamed` never stay.
      CategoryRecord renamed = Category::instance()->get(shared.id);
      renamed.name = "shared " + std::to_string(k);
      {
        Savepoint unit(getDb());
        Category::instance()->update(getDb(), renamed);
        Item::instance()->refreshCounters(getDb(), shared.id);
        unit.release();
      }
      GoodsCategoryMap::instance()->bind(getDb(), std::to_string(k % 5), record.id);
    }
    releaseDb();
  });
  // The "daemon": reads categories and bindings, delivers cards.
  std::thread reader([&] {
    for (int k = 0; k < kRounds; ++k) {
      for (const CategoryRecord& record : Category::instance()->all()) EXPECT_FALSE(record.name.empty());
      GoodsCategoryMap::instance()->categoryOf(std::to_string(k % 5));
      GoodsCategoryMap::instance()->itemsOf(k);
      for (CardRecord card : Item::instance()->unsentCards(getDb(), shared.id, 1)) {
        card.send_order_id = "order " + std::to_string(k);
        Item::instance()->update(getDb(), card);
      }
    }
    releaseDb();
  });
  editor.join();
  reader.join();

  EXPECT_EQ(Category::instance()->all().size(), kRounds + 1u);
  CategoryRecord now = Category::instance()->get(shared.id);
  EXPECT_EQ(now.name, "shared " + std::to_string(kRounds - 1));  // no counter refresh put an old name back
  EXPECT_EQ(now.store_total_num, kRounds);
  EXPECT_EQ(now.store_num, count("select count(*) as `num` from `items` where `send_order_id`=''"));
  // The binding cache says what the table says.
  std::vector<int> cached;
  for (int k = 0; k < 5; ++k) cached.push_back(GoodsCategoryMap::instance()->categoryOf(std::to_string(k)));
  GoodsCategoryMap::instance()->load(getDb());
  for (int k = 0; k < 5; ++k) EXPECT_EQ(GoodsCategoryMap::instance()->categoryOf(std::to_string(k)), cached[k]);
  EXPECT_EQ(count("select count(*) as `num` from `c_g_bind`"), 5);
}

}  // namespace
}  // namespace Quorvel
