// The goods refresh through the marketplace client against the in-process
// marketplace simulator: every item of every on-sale page, in order; an empty
// list; and a session that is gone.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "base/Charset.h"
#include "market/AuthException.h"
#include "market/CookieJar.h"
#include "market/GoodsScraper.h"
#include "sim/MarketSim.h"
#include "store/Goods.h"
#include "store/SystemConfig.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class GoodsRefreshOnSim : public StoreFixture {
 protected:
  void start(SimOptions options) {
    sim_ = std::make_unique<MarketSim>(options);
    sim_->start(0);
    SystemConfig::instance()->set(getDb(), "market_base", sim_->baseUrl());
    CookieJar::instance()->open(folder_.file("cookie.txt"));
    getDb()->exec("insert into `goods` (`url`,`item_id`,`name`,`img_url`) values ('u','9','old','i')");
    Goods::instance()->load(getDb());
  }

  void TearDown() override {
    if (sim_) sim_->stop();
    StoreFixture::TearDown();
  }

  std::vector<GoodsRecord> table() {
    std::vector<GoodsRecord> rows;
    auto cursor = getDb()->query("select * from `goods`");
    while (cursor->next()) {
      auto row = cursor->fetch();
      rows.push_back({(*row)["item_id"].toString(), (*row)["name"].toString(), (*row)["url"].toString(),
                      (*row)["img_url"].toString()});
    }
    return rows;
  }

  testing::TempFolder folder_;
  std::unique_ptr<MarketSim> sim_;
  GoodsScraper scraper_{Env()};  // the refresh's source
};

TEST_F(GoodsRefreshOnSim, EveryItemOfEveryPageIsStoredInPageOrder) {
  SimOptions options;
  options.open = true;
  start(options);
  sim_->shop().addItem({"", gbk("第七件宝贝"), "1.00", "http://img.example.com/7.jpg"});
  for (int k = 0; k < 4; ++k) sim_->shop().addItem({"", "item " + std::to_string(k), "2.00", ""});
  sim_->shop().setGoodsPageSize(4);
  std::vector<SimItem> onSale = sim_->shop().items();
  ASSERT_EQ(onSale.size(), 11u);  // three pages

  Json::Value list = Goods::instance()->list(getDb(), scraper_, false);
  std::vector<GoodsRecord> rows = table();
  ASSERT_EQ(rows.size(), onSale.size());
  ASSERT_EQ(list.size(), onSale.size());
  for (size_t k = 0; k < onSale.size(); ++k) {
    const SimItem& item = onSale[k];
    EXPECT_EQ(rows[k].item_id, item.id);
    EXPECT_EQ(rows[k].name, item.title);
    EXPECT_EQ(rows[k].url, sim_->baseUrl() + "/item.htm?id=" + item.id);
    EXPECT_EQ(rows[k].img_url, item.picture.empty() ? sim_->baseUrl() + "/img/item/" + item.id + ".gif" : item.picture);
    EXPECT_EQ(list[static_cast<int>(k)]["item_id"].asString(), item.id);
  }
}

TEST_F(GoodsRefreshOnSim, AnEmptyShopEmptiesTheTable) {
  SimOptions options;
  options.open = true;
  options.demoShop = false;
  start(options);
  EXPECT_TRUE(Goods::instance()->list(getDb(), scraper_, true).isNull());
  EXPECT_TRUE(table().empty());
}

TEST_F(GoodsRefreshOnSim, WithoutASessionTheTableKeepsItsRows) {
  start(SimOptions());  // not logged in: every seller page shows the login box
  EXPECT_THROW(scraper_.page(1), AuthException);
  EXPECT_TRUE(Goods::instance()->list(getDb(), scraper_, true).isNull());
  ASSERT_EQ(table().size(), 1u);
  EXPECT_EQ(table()[0].item_id, "9");
  EXPECT_FALSE(Goods::instance()->refreshed());
}

}  // namespace
}  // namespace Quorvel
