// Fixture for the delivery tests: the simulator and a fresh database
// (SimStoreFixture), and helpers that make categories, cards, bound items and
// paid orders and read back what the delivery did.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <set>
#include <string>
#include <vector>

#include "base/Charset.h"
#include "base/Registry.h"
#include "delivery/DeliveryProbe.h"
#include "delivery/OrderDelivery.h"
#include "delivery/OrderIntake.h"
#include "market/CookieJar.h"
#include "sim/MarketSim.h"
#include "store/Category.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/OrderLog.h"
#include "store/SystemConfig.h"
#include "tests/market/SimStoreFixture.h"

namespace Quorvel::testing {

// A card template and a goods template (GBK) as the web UI stores them: JSON
// text written in UTF-8 by the page, held as GBK.
inline std::string tplJson(const std::string& cardTpl, const std::string& goodsTpl) {
  Json::Value tpl(Json::objectValue);
  tpl["cardTpl"] = gbkToUtf8(cardTpl);
  tpl["goodsTpl"] = gbkToUtf8(goodsTpl);
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["emitUTF8"] = true;
  return utf8ToGbk(Json::writeString(writer, tpl));
}

class DeliveryFixture : public SimStoreFixture {
 protected:
  // A category (flg 1 unless told) with the given templates and switches.
  int addCategory(int type, const std::string& tpl, const std::string& ext = "", int flg = 1,
                  const std::string& name = "cards") {
    CategoryRecord record;
    record.name = name;
    record.type = static_cast<CategoryType>(type);
    record.flg = static_cast<CategorySwitch>(flg);
    record.tpl = tpl;
    record.ext = ext;
    Category::instance()->add(getDb(), record);
    return record.id;
  }

  // `count` unsent cards "N<k>" / "P<k>" / "X<k>" with a prefix; their ids.
  std::vector<int> addCards(int category, int count, const std::string& prefix = "") {
    std::vector<int> ids;
    for (int k = 0; k < count; ++k) {
      CardRecord card;
      card.cg_id = category;
      card.data1 = prefix + "N" + std::to_string(k);
      card.data2 = prefix + "P" + std::to_string(k);
      card.data3 = prefix + "X" + std::to_string(k);
      Item::instance()->add(getDb(), card);
      ids.push_back(card.id);
    }
    return ids;
  }

  // An item on sale, bound to `category` unless 0.
  std::string addItem(const std::string& title, int category) {
    const std::string id = sim_->shop().addItem({"", title, "9.90", ""}).id;
    if (category != 0) GoodsCategoryMap::instance()->bind(getDb(), id, category);
    return id;
  }

  SimOrder place(const std::string& buyer, std::vector<std::pair<std::string, int>> lines, int state = kSimPaid) {
    SimOrderRequest wanted;
    wanted.buyer = buyer;
    wanted.email = "buyer@example.com";
    wanted.ww = buyer + "_ww";
    wanted.lines = std::move(lines);
    wanted.state = state;
    return sim_->shop().addOrder(wanted);
  }

  // Discovery and detail reading, as the first two steps of a tick.
  void readOrders() {
    intake_.fetchPaidOrders(db_);
    intake_.parseNewOrders(db_);
  }
  void deliver() { delivery_.deliverOrders(db_); }
  void tick() {
    readOrders();
    deliver();
  }

  std::string ofOrder(const std::string& columns, const std::string& number) {
    return fileValue("select " + columns + " from `orders` where `order_id`='" + number + "'");
  }
  int orderRow(const std::string& number) { return std::stoi(ofOrder("`id`", number)); }
  int statusOf(const std::string& number) { return std::stoi(ofOrder("`status`", number)); }

  std::string markOf(int card) {
    return fileValue("select `send_order_id` from `items` where `id`=" + std::to_string(card));
  }

  // Messages queued to anyone but the seller, as "type|to|from|msg|order|alipay".
  std::vector<std::string> buyerMessages() {
    std::vector<std::string> rows;
    auto found = file_->query("select * from `msg_queue` where `to`<>'seller@example.com' order by `id`");
    while (found->next()) {
      auto row = found->fetch();
      rows.push_back(std::to_string((*row)["type"].toInt()) + "|" + (*row)["to"].toString() + "|" +
                     (*row)["from"].toString() + "|" + (*row)["msg"].toString() + "|" +
                     (*row)["order_id"].toString() + "|" + (*row)["alipay_id"].toString());
    }
    return rows;
  }

  // The seller's notices, oldest first.
  std::vector<std::string> notices() {
    std::vector<std::string> texts;
    auto found = file_->query("select `msg` from `msg_queue` where `to`='seller@example.com' order by `id`");
    while (found->next()) texts.push_back((*found->fetch())["msg"].toString());
    return texts;
  }

  // The order's log as "step:text" rows.
  std::vector<std::string> logOf(const std::string& number) {
    std::vector<std::string> rows;
    for (const OrderLogRow& row : OrderLog::instance()->of(getDb(), number)) rows.push_back(row.step + ":" + row.text);
    return rows;
  }
  std::vector<std::string> stepsOf(const std::string& number) {
    std::vector<std::string> steps;
    for (const OrderLogRow& row : OrderLog::instance()->of(getDb(), number)) steps.push_back(row.step);
    return steps;
  }

  // store_num / store_total_num as stored (and as this process's cache has
  // them, unless the delivery ran in another process), beside a count of
  // the cards.
  void expectCountersMatchCards(int category, bool cached = true) {
    const std::string id = std::to_string(category);
    EXPECT_EQ(fileValue("select `store_num` || '/' || `store_total_num` from `category` where `id`=" + id),
              fileValue("select ifnull(sum(`send_order_id`=''),0) || '/' || count(*) from `items` where `cg_id`=" + id))
        << "category " << category;
    if (!cached) return;
    const CategoryRecord record = Category::instance()->get(category);
    EXPECT_EQ(std::to_string(record.store_num) + "/" + std::to_string(record.store_total_num),
              fileValue("select ifnull(sum(`send_order_id`=''),0) || '/' || count(*) from `items` where `cg_id`=" + id))
        << "the cache of category " << category;
  }

  OrderIntake intake_{env_};
  OrderDelivery delivery_{env_};
};

}  // namespace Quorvel::testing
