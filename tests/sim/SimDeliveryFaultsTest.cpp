// What the simulator enforces and records for the delivery's forms, and the
// switches the delivery tests drive that they cannot see from outside: a
// consign answer held back, a state that changes between two requests, the
// consign form's dummy value. (The refusal, the bare form, the memo page
// without its form and the unanswered POST are seen through the delivery
// tests.) Switched through the control interface as another program would.
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestKit.h"
#include "tests/support/Eventually.h"

namespace Quorvel {
namespace {

using SimDeliveryFaults = SimFixture;

const char* const kJson = "application/json";
const char* const kForm1 = R"(<form id="orderForm" action="" method="post" name="orderForm">(.+)</form>)";

// The consign page's address after its redirect, and its form's inputs with
// the client's overrides and `note`.
struct ConsignForm {
  std::string target;
  std::map<std::string, std::string> fields;
};

class SimDeliveryForms : public SimFixture {
 protected:
  ConsignForm consignForm(const SimOrder& order, const std::string& note) {
    ConsignForm form;
    form.target = browser_->get("/user/consign.htm?trade_id=" + order.id).location.substr(base().size());
    Groups body;
    EXPECT_TRUE(matchFirst(kForm1, browser_->get(form.target).body, &body));
    form.fields = formInputs(body.size() > 1 ? body[1] : "");
    form.fields["_fmw.n._0.g"] = note;
    form.fields["event_submit_do_dummy"] = "1";
    form.fields["action"] = "user/consign_action";
    form.fields["_fmw.f._0.fe"] = "";
    form.fields["_fmw.f._0.fet"] = "";
    form.fields["mailNo"] = "";
    return form;
  }
};

TEST_F(SimDeliveryForms, ANoteAbove128BytesAndMissingOverridesAreRefused) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  ConsignForm form = consignForm(order, std::string(129, 'n'));
  EXPECT_FALSE(contains(browser_->post(form.target, encodeFields(form.fields)).body, "恭喜您，操作成功"));
  form.fields["_fmw.n._0.g"] = std::string(128, 'n');
  form.fields.erase("mailNo");
  EXPECT_FALSE(contains(browser_->post(form.target, encodeFields(form.fields)).body, "恭喜您，操作成功"));
  EXPECT_TRUE(sim_.shop().consignments().empty());

  form.fields["mailNo"] = "";
  EXPECT_TRUE(contains(browser_->post(form.target, encodeFields(form.fields)).body, "恭喜您，操作成功"));
  // The memo form's hidden fields are wanted back too.
  const std::string memo = "/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=" + order.id;
  browser_->post(memo, encodeFields({{"_tb_token_", sim_.shop().formToken()}, {"biz_order_id", order.id},
                                     {"flag", "1"}, {"memo", "m"}}));
  EXPECT_TRUE(sim_.shop().memos().empty());
  Json::Value consigned = json(browser_->get("/__sim/consigned"))["consigned"];
  ASSERT_EQ(consigned.size(), 1u);
  EXPECT_EQ(consigned[0]["note_bytes"].asUInt(), 128u);
  EXPECT_EQ(consigned[0]["fields"]["bizOrderId"].asString(), order.id);
  EXPECT_EQ(consigned[0]["fields"]["mailNo"].asString(), "");
}

TEST_F(SimDeliveryForms, AHeldConsignAnswerComesAfterTheShipmentIsRecorded) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  ConsignForm form = consignForm(order, "n");
  browser_->post("/__sim/faults", R"({"consign_answer_delay_ms": 60000})", kJson);
  sim_.shop().setOpen(true);  // the other client has no session cookie
  std::atomic<bool> answered{false};
  std::thread client([&] {
    Browser other(sim_.port());
    try {
      other.post(form.target, encodeFields(form.fields));
    } catch (const std::exception&) {
    }
    answered = true;
  });
  Quorvel::testing::eventually([&] { return sim_.heldAnswers() != 0 && !sim_.shop().consignments().empty(); },
                               std::chrono::milliseconds(1));
  EXPECT_EQ(sim_.shop().consignments().size(), 1u);
  EXPECT_FALSE(answered) << "held back";
  sim_.stop();  // ends the held answer
  client.join();
  EXPECT_TRUE(answered);
}

TEST_F(SimDeliveryFaults, AStateChangesOnceTheGivenRequestsWereServed) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  ASSERT_EQ(browser_->post("/__sim/order_state",
                           R"({"order_id": ")" + order.id + R"(", "state": 10, "after_requests": 2})", kJson)
                .status,
            200);
  const std::string detail = "/trade/detail/trade_item_detail.htm?bizOrderId=" + order.id;
  EXPECT_TRUE(contains(browser_->get(detail).body, "买家已付款，等待卖家发货"));
  browser_->get("/trade/detail/trade_snap.htm?trade_id=" + order.lines[0].snapshotId);  // not a seller page
  EXPECT_TRUE(contains(browser_->get(detail).body, "买家已付款，等待卖家发货"));
  EXPECT_TRUE(contains(browser_->get(detail).body, "交易关闭"));
  EXPECT_EQ(browser_->post("/__sim/order_state", R"({"order_id": "1", "state": 10, "after_requests": 0})", kJson)
                .status,
            400);
}

TEST_F(SimDeliveryFaults, ARatingFormPostsOnlyItsOwnTrade) {
  login();
  SimOrder done = demoOrder(kSimCompleted);
  std::map<std::string, std::string> fields = {{"_tb_token_", sim_.shop().formToken()},
                                               {"tradeID", "999"},
                                               {"rates" + done.id, "1"},
                                               {"rateContents" + done.id, "ok"}};
  EXPECT_FALSE(contains(browser_->post("/remarkBuyer.htm", encodeFields(fields)).body, "评价成功"));
  fields["tradeID"] = done.id;
  EXPECT_TRUE(contains(browser_->post("/remarkBuyer.htm", encodeFields(fields)).body, "评价成功"));
  ASSERT_EQ(sim_.shop().ratings().size(), 1u);
}

TEST_F(SimDeliveryFaults, TheDummyValueOfTheConsignFormIsASetting) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  Json::Value settings = json(browser_->post("/__sim/settings", R"({"consign_dummy": "x7"})", kJson));
  EXPECT_EQ(settings["consign_dummy"].asString(), "x7");
  const std::string target = browser_->get("/user/consign.htm?trade_id=" + order.id).location.substr(base().size());
  Groups form;
  ASSERT_TRUE(matchFirst(kForm1, browser_->get(target).body, &form));
  EXPECT_EQ(formInputs(form[1])["event_submit_do_dummy"], "x7");
  settings = json(browser_->post("/__sim/settings", R"({"consign_dummy": null})", kJson));
  EXPECT_TRUE(settings["consign_dummy"].isNull());
  ASSERT_TRUE(matchFirst(kForm1, browser_->get(target).body, &form));
  EXPECT_EQ(formInputs(form[1])["event_submit_do_dummy"], "");
}

}  // namespace
}  // namespace Quorvel
