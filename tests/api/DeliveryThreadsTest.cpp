// The web UI at work while the daemon's order worker delivers 50 paid orders
// from the simulator, each on its own thread and connection: the page adds
// and deletes cards and saves settings through the real local server while
// the site takes its time over every consign answer. No action fails, no
// delivery fails ("database is locked" included), every order is delivered
// with its own card, and the counters match the cards. Meant to be run under
// ThreadSanitizer too (see README.md).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "api/ItemActions.h"
#include "api/OrderActions.h"
#include "api/StatusActions.h"
#include "delivery/Deamon.h"
#include "delivery/MarketPipeline.h"
#include "tests/api/ApiClient.h"
#include "tests/delivery/DeliveryFixture.h"

namespace Quorvel::testing {
namespace {

using DeliveryThreads = DeliveryFixture;

TEST_F(DeliveryThreads, ThePageEditsCardsAndSettingsWhileFiftyOrdersAreDelivered) {
  const int kOrders = 50;
  const int sold = addCategory(1, tplJson(gbk("{数据1}/{数据2}"), gbk("{卡密内容}")), R"({"email":1})");
  const int edited = addCategory(1, tplJson("{}", ""), "", 1, "edited");
  addCards(sold, kOrders + 5);
  const std::string item = addItem(gbk("点卡淺"), sold);
  for (int k = 0; k < kOrders; ++k) place("buyer" + std::to_string(k), {{item, 1}});
  SimFaults faults;
  faults.consignAnswerDelayMillis = 20;  // the site is slow to confirm each shipment
  sim_->shop().setFaults(faults);
  db_.reset();
  releaseDb();

  registerItemActions(Env());
  registerStatusActions(Env(), std::make_shared<Deamon>(Env()));
  registerOrderActions(Env());
  TestServer server;
  Deamon daemon(env_);
  daemon.setOrderPipeline(std::make_shared<MarketPipeline>(env_));
  daemon.setRunning(true);

  std::atomic<bool> done{false};
  std::thread worker([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      daemon.checkOrders();
      releaseDb();
      if (fileValue("select count(*) from `orders` where `status` in (0,1,3)") == "0" &&
          fileValue("select count(*) from `orders`") == std::to_string(kOrders)) {
        break;
      }
    }
    done = true;
  });

  int actions = 0;
  std::set<std::string> failures;
  while (!done) {
    Json::Value added = callAction(server.port(), "item&action=add",
                                   formOf({{"cg_id", std::to_string(edited)}, {"data1", "n"}, {"data2", "p"}}));
    if (added["SUCCESS"] != Json::Value(1)) failures.insert("add: " + added["MSG"].asString());
    const std::string last = fileValue("select max(`id`) from `items` where `cg_id`=" + std::to_string(edited));
    if (actions % 2 == 0) {
      Json::Value removed = callAction(server.port(), "item&action=del", formOf({{"id", last}}));
      if (removed["SUCCESS"] != Json::Value(1)) failures.insert("del: " + removed["MSG"].asString());
    }
    Json::Value saved = callAction(server.port(), "setConfig",
                                   formOf({{"comment_msg", "thanks " + std::to_string(actions)}, {"notice_store_num", "3"}}));
    if (saved["SUCCESS"] != Json::Value(1)) failures.insert("setConfig: " + saved["MSG"].asString());
    Json::Value listed = callAction(server.port(), "order&action=lst", formOf({{"page_num", "10"}}));
    if (listed["SUCCESS"] != Json::Value(1)) failures.insert("lst: " + listed["MSG"].asString());
    ++actions;
  }
  worker.join();

  EXPECT_TRUE(failures.empty()) << *failures.begin();
  EXPECT_GT(actions, 10) << "the page was at work during the deliveries";
  EXPECT_EQ(fileValue("select count(*) from `orders` where `status`=2"), std::to_string(kOrders))
      << fileValue("select group_concat(distinct `status` || ' ' || `text_msg`) from `orders` where `status`<>2");
  EXPECT_EQ(fileValue("select count(distinct `send_order_id`) from `items` where `cg_id`=" + std::to_string(sold) +
                      " and `send_order_id`<>''"),
            std::to_string(kOrders))
      << "one card per order";
  EXPECT_EQ(sim_->shop().consignments().size(), static_cast<size_t>(kOrders));
  expectCountersMatchCards(sold);
  expectCountersMatchCards(edited);
  EXPECT_EQ(fileValue("select count(*) from `items` where `cg_id`=" + std::to_string(edited)),
            std::to_string(actions - (actions + 1) / 2));
}

}  // namespace
}  // namespace Quorvel::testing
