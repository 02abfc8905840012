// The delivery killed with SIGKILL at every step boundary, and started again.
// The delivery runs in a program of its own (delivery_driver) against the
// simulator in this process; it kills itself at a named point, or this test
// kills it while the site holds back the answer to a consign POST it has
// carried out. After each kill the program is started again until the tick
// ends normally. In the end every order is delivered exactly once, with the
// cards it reserved first; no card carries two orders; the stock counters
// equal a count of the cards; the site saw one accepted consignment per
// order and the buyer one message per order.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "store/DatabaseFile.h"
#include "tests/delivery/DeliveryFixture.h"
#include "tests/support/Eventually.h"

extern char** environ;

namespace Quorvel::testing {
namespace {

// How the driver ended.
struct Ended {
  bool killed = false;  // by SIGKILL
  int code = -1;        // exit code when it exited
};

class DeliveryCrash : public DeliveryFixture {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    config_->set(getDb(), "notice_success_order", "1");
    category_ = addCategory(1, tplJson(gbk("卡号:{数据1} 密码:{数据2};"), gbk("{卡密内容}")), R"({"email":1})");
    cards_ = addCards(category_, 40, gbk("淺"));
    item_ = addItem(gbk("话费卡淺"), category_);
    // The driver's own connection does the work; this one stays idle.
    db_.reset();
    releaseDb();
  }

  pid_t spawn(const std::string& killAt) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
      if (std::string(*entry).rfind("QUORVEL_KILL_AT=", 0) != 0) env.push_back(*entry);
    }
    if (!killAt.empty()) env.push_back("QUORVEL_KILL_AT=" + killAt);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = QUORVEL_DELIVERY_DRIVER;
    std::string database = dbPath();
    std::string cookies = folder_.file("driver-cookie.txt");
    char* argv[] = {program.data(), database.data(), cookies.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    return pid;
  }

  static Ended wait(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    Ended ended;
    ended.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (WIFEXITED(status)) ended.code = WEXITSTATUS(status);
    return ended;
  }

  Ended run(const std::string& killAt = "") { return wait(spawn(killAt)); }

  // Runs the driver normally until it ends a tick with nothing left in flight.
  void restartUntilSettled() {
    for (int start = 0; start < 3; ++start) {
      Ended ended = run();
      ASSERT_FALSE(ended.killed);
      ASSERT_EQ(ended.code, 0);
      if (fileValue("select count(*) from `orders` where `status`=3") == "0") return;
    }
    FAIL() << "orders left in flight";
  }

  // The cards first reserved for the order, as its log recorded them.
  std::string firstReservation(const std::string& number) {
    for (const OrderLogRow& row : OrderLog::instance()->of(getDb(), number)) {
      if (row.step == OrderLog::kReserved) return row.text;
    }
    return "none";
  }

  void expectEveryOrderDeliveredOnce(const std::vector<SimOrder>& orders, int perOrder) {
    std::map<std::string, int> consigned;
    for (const SimConsignment& consignment : sim_->shop().consignments()) ++consigned[consignment.orderId];
    for (const SimOrder& order : orders) {
      SCOPED_TRACE(order.id);
      EXPECT_EQ(statusOf(order.id), kOrderDelivered) << ofOrder("`text_msg`", order.id);
      EXPECT_EQ(consigned[order.id], 1) << "one accepted consignment";
      EXPECT_EQ(sim_->shop().order(order.id)->state, kSimShipped);
      const std::string marked = fileValue("select group_concat(`data1`) from (select `data1` from `items` where "
                                           "`send_order_id`='" + Item::deliveredMark(order.id) + "' order by `id`)");
      // The log names the cards by number, one "、" between two.
      std::string reserved = firstReservation(order.id);
      for (size_t at; (at = reserved.find(gbk("、"))) != std::string::npos;) reserved.replace(at, 2, ",");
      EXPECT_EQ(marked, reserved) << "delivered with the cards it reserved";
      EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`='" + Item::deliveredMark(order.id) + "'"),
                std::to_string(perOrder));
      EXPECT_EQ(fileValue("select count(*) from `msg_queue` where `type`=1 and `to`='buyer@example.com' and "
                          "`order_id`='" + order.id + "'"),
                "1")
          << "one message for the buyer";
      const std::string text = ofOrder("`text_msg`", order.id);
      EXPECT_EQ(fileValue("select `msg` from `msg_queue` where `to`='buyer@example.com' and `order_id`='" +
                          order.id + "'") + "\r\n",
                text);
    }
    EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`<>''"),
              std::to_string(perOrder * orders.size()))
        << "no card marked for two orders, none for an order twice";
    EXPECT_EQ(fileValue("select count(*) from `items` where instr(`send_order_id`, '" + Item::reservedPrefix() +
                        "')=1"),
              "0")
        << "no card left reserved";
    EXPECT_EQ(sim_->shop().consignments().size(), orders.size());
    expectCountersMatchCards(category_, false);
  }

  std::vector<SimOrder> placeOrders(int count, int perOrder) {
    std::vector<SimOrder> orders;
    for (int k = 0; k < count; ++k) orders.push_back(place(gbk("買家") + std::to_string(k), {{item_, perOrder}}));
    return orders;
  }

  int category_ = 0;
  std::vector<int> cards_;
  std::string item_;
};

TEST_F(DeliveryCrash, KilledAtEveryStepBoundaryEveryOrderIsDeliveredOnce) {
  std::vector<SimOrder> all;
  for (const char* point : {"reserved", "consigning", "consigned", "finished", "memo"}) {
    SCOPED_TRACE(point);
    std::vector<SimOrder> orders = placeOrders(3, 2);
    all.insert(all.end(), orders.begin(), orders.end());
    Ended ended = run(point);
    EXPECT_TRUE(ended.killed) << "the driver did not reach " << point;
    restartUntilSettled();
  }
  expectEveryOrderDeliveredOnce(all, 2);
  // Each kill left one memo unwritten at most; the next start wrote it.
  EXPECT_EQ(sim_->shop().memos().size(), all.size());
}

TEST_F(DeliveryCrash, KilledWhileTheSiteHoldsTheAnswerToItsConsignPost) {
  std::vector<SimOrder> orders = placeOrders(2, 1);
  SimFaults faults;
  faults.consignAnswerDelayMillis = 60'000;
  sim_->shop().setFaults(faults);
  const pid_t driver = spawn("");
  // The site has carried out the consignment and holds its answer back.
  testing::eventually([&] { return sim_->heldAnswers() != 0 && !sim_->shop().consignments().empty(); },
                      std::chrono::milliseconds(2));
  ASSERT_EQ(sim_->shop().consignments().size(), 1u);
  ASSERT_EQ(::kill(driver, SIGKILL), 0);
  EXPECT_TRUE(wait(driver).killed);
  EXPECT_EQ(statusOf(sim_->shop().consignments()[0].orderId), kOrderDelivering);

  sim_->shop().setFaults({});
  restartUntilSettled();
  expectEveryOrderDeliveredOnce(orders, 1);
}

}  // namespace
}  // namespace Quorvel::testing
