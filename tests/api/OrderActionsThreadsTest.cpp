// The web UI's order actions on the server thread while the daemon's ticks
// record, read and deliver paid orders from the simulator on a thread of their own,
// each on its own connection. Meant to be run under ThreadSanitizer (see
// README.md).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "api/OrderActions.h"
#include "delivery/Deamon.h"
#include "delivery/MarketPipeline.h"
#include "market/CookieJar.h"
#include "sim/MarketSim.h"
#include "store/SystemConfig.h"
#include "tests/api/ApiClient.h"
#include "tests/market/TempFolder.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

using OrderActionsThreads = StoreFixture;

TEST_F(OrderActionsThreads, ThePageListsResetsAndDeletesWhileTicksStoreOrders) {
  SimOptions options;
  options.open = true;
  options.demoShop = false;
  MarketSim sim(options);
  sim.start(0);
  TempFolder folder;
  SystemConfig::instance()->set(getDb(), "market_base", sim.baseUrl());
  CookieJar::instance()->open(folder.file("cookie.txt"));
  std::vector<std::string> items;
  for (int k = 0; k < 3; ++k) items.push_back(sim.shop().addItem({"", "card " + std::to_string(k), "1.00", ""}).id);

  registerOrderActions(Env());
  TestServer server;
  Deamon daemon{Env()};
  daemon.setOrderPipeline(std::make_shared<MarketPipeline>(Env()));
  daemon.setRunning(true);

  std::atomic<bool> stop{false};
  std::atomic<int> ticks{0};
  std::thread worker([&] {
    while (!stop) {
      daemon.checkOrders();
      releaseDb();
      ++ticks;
    }
  });

  // The list shows at most 20 orders, all of them here.
  const int kOrders = 20;
  std::map<std::string, size_t> lines;  // order number -> goods lines
  int deletes = 0;
  int resets = 0;
  std::set<std::string> gone;  // deleted orders, which stay deleted
  for (int round = 0; round < 60; ++round) {
    if (round % 3 == 0 && static_cast<int>(lines.size()) < kOrders) {
      SimOrderRequest wanted;
      wanted.buyer = "buyer " + std::to_string(round);
      const int count = 1 + static_cast<int>(lines.size()) % 3;
      for (int k = 0; k < count; ++k) wanted.lines.emplace_back(items[k], k + 1);
      SimOrder placed = sim.shop().addOrder(wanted);
      lines[placed.id] = placed.lines.size();
      // The page's actions are far quicker than a tick: let a whole tick
      // see the new order, so that the page meets orders the ticks stored.
      const int before = ticks;
      const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (ticks < before + 2 && std::chrono::steady_clock::now() < patience) std::this_thread::yield();
    }
    Json::Value list = callAction(server.port(), "order&action=lst", formOf({{"page_num", "50"}}));
    ASSERT_EQ(list["SUCCESS"], Json::Value(1)) << list["MSG"].asString();
    for (const Json::Value& order : list["LIST"]) {
      const std::string id = std::to_string(order["id"].asInt());
      // The ticks end every order at once (their items are bound to no
      // category, so each fails as not bound, 1008); a reset sends one back.
      if (order["status"].asInt() == 1008 && round % 2 == 0) {
        Json::Value reset = callAction(server.port(), "order&action=reset", formOf({{"id", id}}));
        ASSERT_EQ(reset["SUCCESS"], Json::Value(1)) << reset["MSG"].asString();
        ++resets;
      } else if (round % 5 == 1) {
        // Still listed on the marketplace, but deleted: no later tick
        // records it again.
        Json::Value removed = callAction(server.port(), "order&action=del", formOf({{"id", id}}));
        ASSERT_EQ(removed["SUCCESS"], Json::Value(1)) << removed["MSG"].asString();
        if (order["status"].asInt() != 3) gone.insert(order["order_id"].asString());
        ++deletes;
        break;
      }
    }
    Json::Value waiting = callAction(server.port(), "order&action=lst", formOf({{"status", "1"}, {"page", "2"}}));
    ASSERT_EQ(waiting["SUCCESS"], Json::Value(1)) << waiting["MSG"].asString();
  }
  // Let the ticks catch up with the last change, then stop them.
  const int seen = ticks;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ticks < seen + 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  stop = true;
  worker.join();
  daemon.checkOrders();  // one more on this thread: whatever was deleted or reset last is back and delivered

  EXPECT_GT(deletes, 0);
  EXPECT_GT(resets, 0);
  auto file = otherConnection();
  auto rows = file->query(
      "select `order_id`, `status`, (select count(*) from `order_goods` where `o_id`=`orders`.`id`) as `lines` "
      "from `orders`");
  std::map<std::string, size_t> stored;
  while (rows->next()) {
    auto row = rows->fetch();
    const std::string number = (*row)["order_id"].toString();
    EXPECT_EQ((*row)["status"].toInt(), 1008) << number;
    EXPECT_TRUE(stored.emplace(number, (*row)["lines"].toInt()).second) << "recorded twice: " << number;
  }
  for (const std::string& number : gone) lines.erase(number);
  EXPECT_EQ(stored, lines) << "every order not deleted once, with each of its goods lines once";
  rows = file->query(
      "select count(*) as `num` from `order_goods` where `o_id` not in (select `id` from `orders`)");
  ASSERT_TRUE(rows->next());
  EXPECT_EQ((*rows->fetch())["num"].toInt(), 0) << "no goods line without its order";
  sim.stop();
}

}  // namespace
}  // namespace Quorvel::testing
