// The seller forms outside the delivery tests: the form reading rules, the
// consignment note's cut, the purchase limits, and buyer rating against the
// simulator with its interval.
#include "market/SellerForms.h"

#include <gtest/gtest.h>

#include <atomic>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "base/Charset.h"
#include "delivery/MarketSteps.h"
#include "delivery/OrderException.h"
#include "delivery/PurchaseLimits.h"
#include "market/BuyerRating.h"
#include "market/Consignment.h"
#include "market/CookieJar.h"
#include "market/SellerMemo.h"
#include "sim/MarketSim.h"
#include "store/SystemConfig.h"
#include "tests/market/SimStoreFixture.h"

namespace Quorvel {
namespace {

TEST(SellerForms, EveryNamedInputWithAValueCountsAndTheLastOneWins) {
  FormFields fields;
  ASSERT_TRUE(readFormInputs(R"(<input type="hidden" name="a" value="1"><input name='b' value=''>
<input type="submit" value="go"><input name="c"><input type="radio" name="a" value="2" checked>)",
                             fields));
  EXPECT_EQ(fields, (FormFields{{"a", "2"}, {"b", ""}}));
  FormFields none;
  EXPECT_FALSE(readFormInputs("<textarea name=\"x\">y</textarea>", none));
  EXPECT_TRUE(none.empty());
}

TEST(SellerForms, TheConsignNoteIsWholeUpTo128BytesElseCutAt100OnACharacter) {
  const std::string exact(128, 'a');
  EXPECT_EQ(consignNote(exact), exact);
  EXPECT_EQ(consignNote(std::string(129, 'a')), std::string(100, 'a'));
  const std::string straddling = std::string(99, 'a') + gbk("淺") + std::string(40, 'b');
  EXPECT_EQ(consignNote(straddling), std::string(99, 'a'));
  const std::string ending = std::string(98, 'a') + gbk("淺") + std::string(40, 'b');
  EXPECT_EQ(consignNote(ending), std::string(98, 'a') + gbk("淺"));
}

// The page readers the form submitters post from, on the page alone.
TEST(SellerForms, PageReadersTellWhichPartOfThePageIsMissing) {
  const std::string consign =
      gbk("<h2>确认收货信息及交易详情</h2><form id=\"orderForm\" name=\"orderForm\" method=\"post\" >"
          "<input name=\"trade_id\" value=\"9\"></form>");
  EXPECT_EQ(readConsignForm(consign).refusal, ConsignRefusal::kNone);
  EXPECT_EQ(readConsignForm(consign).fields, (FormFields{{"trade_id", "9"}}));
  // Each refusal, and the reason code and message the delivery gives it.
  auto consignCode = [](const std::string& page) {
    const ConsignForm form = readConsignForm(page);
    EXPECT_TRUE(form.fields.empty());
    return consignFailure(form.refusal).code();
  };
  EXPECT_EQ(consignCode("<form id=\"orderForm\" name=\"orderForm\" method=\"post\" ></form>"), kNotConsignable);
  EXPECT_EQ(consignCode(gbk("确认收货信息及交易详情")), kNoConsignForm);
  EXPECT_EQ(consignCode(gbk("确认收货信息及交易详情<form id=\"orderForm\" name=\"orderForm\" method=\"post\" >x</form>")),
            kFormWithoutInputs);
  EXPECT_EQ(consignFailure(ConsignRefusal::kNotConsignable).message(), gbk("当前订单不可进行发货处理"));
  EXPECT_EQ(consignFailure(ConsignRefusal::kNoForm).message(), gbk("未找到发货表单"));
  EXPECT_EQ(consignFailure(ConsignRefusal::kFormWithoutInputs).message(), gbk("发货匹配规则1失败"));

  const MemoForm memo = readMemoForm("<form id=\"form1\" name=\"form1\" action=\"#\" method=\"post\"><input "
                                     "name=\"memo\" value=\"old\"></form>");
  EXPECT_EQ(memo.refusal, MemoRefusal::kNone);
  EXPECT_EQ(memo.fields, (FormFields{{"memo", "old"}}));
  EXPECT_EQ(readMemoForm("<form id=\"form2\"><input name=\"memo\" value=\"\"></form>").refusal, MemoRefusal::kNoForm);
  EXPECT_EQ(readMemoForm("<form id=\"form1\" name=\"form1\" action=\"#\" method=\"post\">x</form>").refusal,
            MemoRefusal::kFormWithoutInputs);

  EXPECT_FALSE(readRateForm("<form id=\"rateListForm\" action=\"/remarkBuyer.htm\" name=\"addfeedback\">x</form>"));
  const auto rate = readRateForm(
      "<form id=\"rateListForm\" action=\"/remarkBuyer.htm\" name=\"addfeedback\" method=\"post\">"
      "<input name=\"tradeID\" value=\"5\"></form>");
  ASSERT_TRUE(rate);
  EXPECT_EQ(*rate, (FormFields{{"tradeID", "5"}}));
  EXPECT_EQ(unratedTradesOn(gbk("订单编号：12 订单编号：x 订单编号：34")), (std::vector<std::string>{"12", "34"}));
}

TEST(SellerForms, AnswerTextStartsAtTheMarkerWithoutTags) {
  const std::string page = gbk("<p>nav</p><h3>恭喜您，操作成功！</h3>\r\n  <p>订单 1 已发货。<a href=\"x\">返回</a></p>");
  EXPECT_EQ(pageTextFrom(page, gbk("恭喜您，操作成功")), gbk("恭喜您，操作成功！ 订单 1 已发货。 返回"));
  EXPECT_EQ(pageTextFrom(page, gbk("恭喜您，操作成功"), 17), gbk("恭喜您，操作成功"));
  EXPECT_EQ(pageTextFrom(page, "absent"), "");
}

// A consign page whose first form holds no input: the greedy form pattern
// runs to the last "</form>", so the inputs of the later form are posted too,
// back to the address the page was redirected to. The answer that never
// came is told from a refusal.
using ConsignOnALoopbackSite = StoreFixture;

TEST_F(ConsignOnALoopbackSite, TwoFormsTheFirstWithoutInputsAndAnAnswerThatNeverCame) {
  testing::TempFolder folder;
  CookieJar::instance()->open(folder.file("cookie.txt"));
  std::atomic<bool> answer{true};  // read on the server's threads
  std::unique_ptr<testing::LoopbackServer> site;
  site = std::make_unique<testing::LoopbackServer>([&](const testing::SeenRequest& request) {
    if (request.target.rfind("/user/consign.htm", 0) == 0) {
      return testing::answer(302, "", "Location: " + site->url("/moved/consign.htm?trade_id=7") + "\r\n");
    }
    if (request.method == "GET") {
      return testing::answer(200, gbk("确认收货信息及交易详情") +
                                      R"(<form id="orderForm" action="" method="post" name="orderForm"><p>x</p></form>)"
                                      R"(<form id="other"><input type="hidden" name="later" value="kept"></form>)");
    }
    return answer ? testing::answer(200, gbk("<h3>恭喜您，操作成功！</h3>")) : std::string("HTTP/1.1 200 OK\r\n");
  });
  SystemConfig::instance()->set(getDb(), "market_base", site->url(""));
  Env env;
  ConsignOutcome outcome = consignOrder(env, "7", "note");
  EXPECT_TRUE(outcome.confirmed());
  EXPECT_EQ(outcome.confirmation, gbk("恭喜您，操作成功！"));
  const testing::SeenRequest posted = site->requests().back();
  EXPECT_EQ(posted.method, "POST");
  EXPECT_EQ(posted.target, "/moved/consign.htm?trade_id=7");
  EXPECT_NE(posted.body.find("later=kept"), std::string::npos) << posted.body;

  answer = false;
  try {
    consignForDelivery(env, "7", "note", outcome);
    FAIL() << "confirmed without an answer";
  } catch (OrderException e) {
    EXPECT_EQ(e.code(), 4);
    EXPECT_EQ(e.message(), gbk("发货失败！"));
  }
  EXPECT_EQ(outcome.refusal, ConsignRefusal::kNotConfirmed);
  EXPECT_TRUE(outcome.posted);
  EXPECT_FALSE(outcome.answered);
  EXPECT_FALSE(outcome.reason.empty());
}

// The memo step's outcomes, and what the delivery makes of each: a form
// without inputs and a POST that got no answer.
TEST_F(ConsignOnALoopbackSite, AMemoFormWithoutInputsAndAMemoPostWithoutAnAnswer) {
  testing::TempFolder folder;
  CookieJar::instance()->open(folder.file("cookie.txt"));
  std::atomic<bool> inputs{false};  // read on the server's threads
  testing::LoopbackServer site([&](const testing::SeenRequest& request) {
    if (request.method == "GET") {
      return testing::answer(200, std::string("<form id=\"form1\" name=\"form1\" action=\"#\" method=\"post\">") +
                                      (inputs ? "<input name=\"memo\" value=\"old\">" : "<p>x</p>") + "</form>");
    }
    return std::string("HTTP/1.1 200 OK\r\n");
  });
  SystemConfig::instance()->set(getDb(), "market_base", site.url(""));
  OrderInfo order;
  order.order_id = "7";
  order.send_msg = "sent";
  Env env;
  EXPECT_EQ(updateSellerMemo(env, order).refusal, MemoRefusal::kFormWithoutInputs);
  try {
    writeSellerMemo(env, order);
    FAIL() << "a form without inputs was posted";
  } catch (OrderException e) {
    EXPECT_EQ(e.code(), kFormWithoutInputs);
    EXPECT_EQ(e.message(), gbk("发货匹配规则1失败"));
  }

  inputs = true;
  const MemoOutcome unanswered = updateSellerMemo(env, order);
  EXPECT_EQ(unanswered.refusal, MemoRefusal::kUnanswered);
  EXPECT_FALSE(unanswered.reason.empty());
  EXPECT_NE(site.requests().back().body.find("memo=sent"), std::string::npos) << site.requests().back().body;
  try {
    writeSellerMemo(env, order);
    FAIL() << "no answer came";
  } catch (OrderException e) {
    EXPECT_EQ(e.code(), kConsignRefused);
    EXPECT_EQ(e.message().rfind(gbk("卖家备注提交失败："), 0), 0u) << e.message();
  }
}

using PurchaseLimits = StoreFixture;

TEST_F(PurchaseLimits, LimitAboveZeroAndTheBlacklist) {
  CategoryRecord category;
  OrderInfo order;
  order.buyer = gbk("淺人");
  OrderGoods line;
  line.num = 2;
  for (const char* ext : {"", "not json", R"({"limit_number":0})", R"({"limit_number":2})", R"({})"}) {
    category.ext = ext;
    EXPECT_NO_THROW(checkPurchaseLimits(category, order, line)) << ext;
  }
  category.ext = R"({"limit_number":1})";
  try {
    checkPurchaseLimits(category, order, line);
    FAIL() << "no limit";
  } catch (OrderException e) {
    EXPECT_EQ(e.code(), 6);
    EXPECT_EQ(e.message(), gbk("发货失败：单件购买限制"));
  }
  category.ext = "";
  SystemConfig::instance()->set(getDb(), "black_list", gbk("甲\n 淺人 "));
  try {
    checkPurchaseLimits(category, order, line);
    FAIL() << "not on the blacklist";
  } catch (OrderException e) {
    EXPECT_EQ(e.code(), 7);
    EXPECT_EQ(e.message(), gbk("发货失败：黑名单限制"));
  }
}

class BuyerRating : public testing::SimStoreFixture {
 protected:
  void SetUp() override {
    SimStoreFixture::SetUp();
    item_ = sim_->shop().addItem({"", "card", "1.00", ""}).id;
  }
  SimOrder place(int state) {
    SimOrderRequest wanted;
    wanted.buyer = "b";
    wanted.lines = {{item_, 1}};
    wanted.state = state;
    return sim_->shop().addOrder(wanted);
  }

  std::string item_;
};

TEST_F(BuyerRating, ARunRatesEveryListedTradeAndTheNextWaitsForTheInterval) {
  // The interval runs on the clock of the Env the run is given, not on the
  // process-wide one (which stays still here).
  auto clock = std::make_shared<testing::FakeClock>(testing::kSimStoreNow);
  const Env env(clock);
  SimOrder shipped = place(kSimShipped);
  SimOrder done = place(kSimCompleted);
  place(kSimPaid);  // not listed: nothing to rate yet
  EXPECT_EQ(listUnratedTrades(env), (std::vector<std::string>{done.id, shipped.id}));
  const std::string comment = gbk("好买家淺");
  std::shared_ptr<Comment> rating = Comment::instance();
  ASSERT_TRUE(rating->rateBuyers(env, comment, 30));
  std::vector<SimRating> ratings = sim_->shop().ratings();
  ASSERT_EQ(ratings.size(), 2u);
  EXPECT_EQ(ratings[0].tradeId, done.id);
  EXPECT_EQ(ratings[0].rating, "1");
  EXPECT_EQ(ratings[0].comment, comment);

  SimOrder later = place(kSimShipped);
  clock->advance(30 * 60 - 1);
  EXPECT_FALSE(rating->rateBuyers(env, comment, 30));
  EXPECT_EQ(sim_->shop().ratings().size(), 2u) << "too early: nothing fetched, nothing rated";
  clock->advance(1);
  EXPECT_TRUE(rating->rateBuyers(env, comment, 30));
  ASSERT_EQ(sim_->shop().ratings().size(), 3u);
  EXPECT_EQ(sim_->shop().ratings()[2].tradeId, later.id);
  EXPECT_TRUE(rating->rateBuyers(env, comment, 0) == false) << "the interval counts from the end of the last run";
}

}  // namespace
}  // namespace Quorvel
