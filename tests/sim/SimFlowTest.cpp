// What the order pipeline does on the site: consign, seller memo, buyer
// rating and the web IM page, done the way the marketplace client does it
// (cut the form out with its pattern, take every named input, override,
// post back) and checked against what the simulator recorded.
#include "SimTestKit.h"

namespace Quorvel {
namespace {

using SimFlow = SimFixture;

const char* const kFormVariant1 = R"(<form id="orderForm" action="" method="post" name="orderForm">(.+)</form>)";
const char* const kFormVariant2 = R"(<form id="orderForm" name="orderForm" method="post" >(.+)</form>)";

// The consign fields as the client sends them.
std::string consignBody(const std::string& formBody, const std::string& note) {
  std::map<std::string, std::string> fields = formInputs(formBody);
  fields["_fmw.n._0.g"] = note;
  if (fields["event_submit_do_dummy"].empty()) fields["event_submit_do_dummy"] = "1";
  fields["action"] = "user/consign_action";
  fields["_fmw.f._0.fe"] = "";
  fields["_fmw.f._0.fet"] = "";
  fields["mailNo"] = "";
  return encodeFields(fields);
}

TEST_F(SimFlow, ConsignPageMovesAndIsPostedWhereItWasServed) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  Page moved = browser_->get("/user/consign.htm?trade_id=" + order.id);
  ASSERT_EQ(moved.status, 302);
  ASSERT_EQ(moved.location.rfind(base() + "/", 0), 0u);
  std::string target = moved.location.substr(base().size());
  EXPECT_NE(target.rfind("/user/consign.htm", 0), 0u) << "served from another address";

  Page page = browser_->get(target);
  EXPECT_TRUE(contains(page.body, "确认收货信息及交易详情"));
  Groups form;
  ASSERT_TRUE(matchFirst(kFormVariant1, page.body, &form));
  EXPECT_EQ(formInputs(form[1])["event_submit_do_dummy"], "") << "the first variant leaves it empty";

  // Posting to the old address is refused and records nothing.
  std::string note = gbk("卡号：淺東123456 密码：乛乕亄匽淺");
  Page refused = browser_->post("/user/consign.htm?trade_id=" + order.id, consignBody(form[1], note));
  EXPECT_FALSE(contains(refused.body, "恭喜您，操作成功"));
  EXPECT_TRUE(sim_.shop().consignments().empty());

  Page done = browser_->post(target, consignBody(form[1], note));
  EXPECT_TRUE(contains(done.body, "恭喜您，操作成功"));
  std::vector<SimConsignment> consigned = sim_.shop().consignments();
  ASSERT_EQ(consigned.size(), 1u);
  EXPECT_EQ(consigned[0].orderId, order.id);
  EXPECT_EQ(consigned[0].note, note) << "GBK note byte for byte";
  EXPECT_EQ(consigned[0].postedTo, target);
  EXPECT_EQ(sim_.shop().order(order.id)->state, kSimShipped);

  // A shipped order is no longer offered, and a second post is refused.
  EXPECT_FALSE(contains(browser_->get(target).body, "确认收货信息及交易详情"));
  EXPECT_FALSE(contains(browser_->post(target, consignBody(form[1], note)).body, "恭喜您，操作成功"));
  EXPECT_EQ(sim_.shop().consignments().size(), 1u);
}

TEST_F(SimFlow, SecondFormVariantAndIncompletePosts) {
  login();
  sim_.shop().setConsignVariant(2);
  SimOrder order = demoOrder(kSimPaid);
  std::string target = browser_->get("/user/consign.htm?trade_id=" + order.id).location.substr(base().size());
  std::string page = browser_->get(target).body;
  Groups form;
  EXPECT_FALSE(matchFirst(kFormVariant1, page, nullptr));
  ASSERT_TRUE(matchFirst(kFormVariant2, page, &form));
  std::map<std::string, std::string> inputs = formInputs(form[1]);
  EXPECT_EQ(inputs["event_submit_do_dummy"], "1");
  EXPECT_EQ(inputs["bizOrderId"], order.id);
  EXPECT_FALSE(inputs["_tb_token_"].empty());

  // Without the hidden token (inputs not copied) or without the overrides.
  std::map<std::string, std::string> bare = {{"bizOrderId", order.id}, {"action", "user/consign_action"},
                                             {"event_submit_do_dummy", "1"}};
  EXPECT_FALSE(contains(browser_->post(target, encodeFields(bare)).body, "恭喜您，操作成功"));
  EXPECT_FALSE(contains(browser_->post(target, encodeFields(inputs)).body, "恭喜您，操作成功"));
  EXPECT_TRUE(sim_.shop().consignments().empty());
  EXPECT_TRUE(contains(browser_->post(target, consignBody(form[1], "x")).body, "恭喜您，操作成功"));
}

TEST_F(SimFlow, MemoFormTakesFlagAndALongDeliveryText) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  std::string url = "/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=" + order.id;
  Groups form;
  ASSERT_TRUE(matchFirst(R"(<form id="form1" name="form1" action="#" method="post">(.+)</form>)",
                         browser_->get(url).body, &form));
  std::map<std::string, std::string> fields = formInputs(form[1]);
  EXPECT_EQ(fields["biz_order_id"], order.id);
  EXPECT_EQ(fields["flag"], "5") << "the last radio wins, as in the client";
  fields["flag"] = "1";
  std::string memo;
  for (int k = 0; k < 400; ++k) memo += gbk("卡号淺：") + std::to_string(100000 + k) + gbk("東乛乕亄匽") + "\r\n";
  fields["memo"] = memo;  // well above 8 KB once encoded
  browser_->post(url, encodeFields(fields));

  std::vector<SimMemo> memos = sim_.shop().memos();
  ASSERT_EQ(memos.size(), 1u);
  EXPECT_EQ(memos[0].orderId, order.id);
  EXPECT_EQ(memos[0].flag, "1");
  EXPECT_EQ(memos[0].memo, memo);
  EXPECT_FALSE(matchFirst(R"(<form id="form1")", browser_->get(
      "/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id=999").body, nullptr));
}

TEST_F(SimFlow, UnratedListRatingFormsAndSubmission) {
  login();
  const std::string unrated = kUnratedListTarget;
  SimOrder paid = demoOrder(kSimPaid);
  SimOrder done = demoOrder(kSimCompleted);
  ASSERT_TRUE(sim_.shop().setOrderState(paid.id, kSimShipped));

  std::vector<Groups> trades = matchAll(gbkPattern("订单编号：([0-9]+)"), browser_->get(unrated).body);
  ASSERT_EQ(trades.size(), 2u) << "each unrated order once";
  std::string comment = gbk("好买家，欢迎再次光临！淺");
  for (const Groups& trade : trades) {
    const std::string& id = trade[1];
    Groups form;
    ASSERT_TRUE(matchFirst(R"(<form id="rateListForm" action="/remarkBuyer\.htm" name="addfeedback"[^>]*>(.+)</form>)",
                           browser_->get("/remark_buyer.jhtml?tradeID=" + id).body, &form));
    std::map<std::string, std::string> fields = formInputs(form[1]);
    EXPECT_EQ(fields["rates" + id], "-1") << "the last radio of the form";
    fields["rates" + id] = "1";
    fields["rateContents" + id] = comment;
    EXPECT_TRUE(contains(browser_->post("/remarkBuyer.htm", encodeFields(fields)).body, "评价成功"));
  }
  std::vector<SimRating> ratings = sim_.shop().ratings();
  ASSERT_EQ(ratings.size(), 2u);
  EXPECT_EQ(ratings[0].tradeId, done.id) << "newest first, as listed";
  EXPECT_EQ(ratings[1].tradeId, paid.id);
  for (const SimRating& rating : ratings) {
    EXPECT_EQ(rating.rating, "1");
    EXPECT_EQ(rating.comment, comment);
  }

  EXPECT_TRUE(matchAll(gbkPattern("订单编号：([0-9]+)"), browser_->get(unrated).body).empty());
  EXPECT_FALSE(matchFirst("rateListForm", browser_->get("/remark_buyer.jhtml?tradeID=" + done.id).body, nullptr));
}

TEST_F(SimFlow, WebImPageRecordsTheBuyerOpened) {
  Page page = browser_->get("/webww/?ver=1&&touid=cntaobao%BF%EC%C0%D6&siteid=cntaobao&status=1");
  EXPECT_EQ(page.status, 200);
  std::vector<std::string> chats = sim_.shop().chats();
  ASSERT_EQ(chats.size(), 1u);
  EXPECT_EQ(chats[0], "cntaobao" + gbk("快乐"));
}

}  // namespace
}  // namespace Quorvel
