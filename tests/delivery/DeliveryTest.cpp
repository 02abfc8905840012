// The delivery of paid orders against the in-process marketplace simulator:
// the texts to the byte, cards taken and marked, the failure codes and what
// a failure leaves behind (nothing taken, counters right, the notices), the
// channel switches, the consign form as the site wants it, the note's length
// and the memo. Names carry GBK characters whose second byte is a pattern or
// template character (淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]).
#include <gtest/gtest.h>

#include "base/GbkText.h"
#include "delivery/OrderException.h"
#include "delivery/OrderStatusText.h"
#include "market/Consignment.h"
#include "store/Order.h"
#include "tests/delivery/DeliveryFixture.h"

namespace Quorvel::testing {
namespace {

using Delivery = DeliveryFixture;

const char* const kCardTpl = "卡号：{数据1} 密码：{数据2}\r\n";

std::string cardLine(const std::string& number, const std::string& password) {
  return gbk("卡号：") + number + gbk(" 密码：") + password + "\r\n";
}

TEST_F(Delivery, TwoCardsOfThreeGoOutWithTheExactTextsAndMarks) {
  const int category = addCategory(1, tplJson(gbk(kCardTpl), gbk("{卡密内容}")), R"({"email":1})");
  const std::vector<int> cards = addCards(category, 3, gbk("淺"));
  const std::string title = gbk("淺東乛 点卡【亄】");
  SimOrder order = place(gbk("買家乕"), {{addItem(title, category), 2}});
  config_->set(getDb(), "notice_success_order", "1");
  tick();

  const std::string line = gbk("【") + title + gbk("】的发货信息：") + cardLine(gbk("淺N0"), gbk("淺P0")) +
                           cardLine(gbk("淺N1"), gbk("淺P1"));
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(ofOrder("`text_msg`", order.id), line + "\r\n");
  EXPECT_EQ(ofOrder("`send_msg`", order.id), line + "\r\n");
  EXPECT_EQ(markOf(cards[0]), gbk("已发货：订单号：") + order.id);
  EXPECT_EQ(markOf(cards[1]), gbk("已发货：订单号：") + order.id);
  EXPECT_EQ(markOf(cards[2]), "");
  expectCountersMatchCards(category);
  EXPECT_EQ(fileValue("select `store_num` from `category` where `id`=" + std::to_string(category)), "1");

  EXPECT_EQ(buyerMessages(), std::vector<std::string>{"1|buyer@example.com||" + line + "|" + order.id + "|"})
      << "one e-mail per delivered line, the line text without its line break";
  EXPECT_EQ(notices(), std::vector<std::string>{gbk("订单：") + order.id + gbk("发货成功，含商品：") + title +
                                                gbk("×") + "2 "});

  std::vector<SimConsignment> consigned = sim_->shop().consignments();
  ASSERT_EQ(consigned.size(), 1u);
  EXPECT_EQ(consigned[0].orderId, order.id);
  EXPECT_EQ(consigned[0].note, line + "\r\n");
  std::vector<SimMemo> memos = sim_->shop().memos();
  ASSERT_EQ(memos.size(), 1u);
  EXPECT_EQ(memos[0].memo, line + "\r\n");
  EXPECT_EQ(memos[0].flag, "1");

  EXPECT_EQ(stepsOf(order.id), (std::vector<std::string>{"reserved", "consigned", "queued", "delivered", "memo_due",
                                                         "memo_written"}));
  // The seller reads card numbers, not row ids.
  EXPECT_EQ(logOf(order.id)[0], "reserved:" + gbk("淺N0") + gbk("、") + gbk("淺N1"));
  EXPECT_NE(logOf(order.id)[1].find(gbk("恭喜您，操作成功")), std::string::npos) << logOf(order.id)[1];

  tick();
  EXPECT_EQ(sim_->shop().consignments().size(), 1u) << "a delivered order is not touched again";
  EXPECT_EQ(buyerMessages().size(), 1u);
}

TEST_F(Delivery, AShortStockFailsWith1001TakingNothingAndBothNoticesSurvive) {
  const int category = addCategory(1, tplJson(gbk(kCardTpl), gbk("{卡密内容}")), R"({"email":1})");
  const int other = addCategory(1, tplJson(gbk(kCardTpl), ""), R"({"email":1})");
  const std::vector<int> otherCards = addCards(other, 2);
  const std::vector<int> cards = addCards(category, 1);
  const std::string first = gbk("先发的卡");
  const std::string title = gbk("缺货的卡淺");
  SimOrder order = place("b", {{addItem(first, other), 2}, {addItem(title, category), 2}});
  config_->set(getDb(), "notice_store_enable", "1");
  config_->set(getDb(), "notice_store_num", "5");
  config_->set(getDb(), "notice_failed_order", "1");
  tick();

  EXPECT_EQ(statusOf(order.id), orderFailed(1));
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("库存不足"));
  EXPECT_EQ(ofOrder("`send_msg`", order.id), "");
  EXPECT_EQ(markOf(cards[0]), "");
  EXPECT_EQ(markOf(otherCards[0]), "") << "the line before it is rolled back too";
  EXPECT_EQ(markOf(otherCards[1]), "");
  expectCountersMatchCards(category);
  expectCountersMatchCards(other);  // the cache does not follow a rollback by itself
  EXPECT_TRUE(buyerMessages().empty());
  EXPECT_TRUE(sim_->shop().consignments().empty());
  EXPECT_EQ(notices(), (std::vector<std::string>{
                           gbk("商品：") + title + gbk("库存不足，现有1件，需要 2件"),
                           gbk("订单：") + order.id + gbk("发货失败，原因：库存不足含商品：") + first + gbk("×") +
                               "2 " + title + gbk("×") + "2 ",
                       }));
  EXPECT_EQ(logOf(order.id), std::vector<std::string>{"failed:1001 " + gbk("库存不足")});
}

TEST_F(Delivery, GoodsTemplatesWithAndWithoutThePlaceholderAndATextOnlyCategory) {
  const int inside = addCategory(1, tplJson(gbk("[{数据3}]"), gbk("您的卡：{卡密内容}，请查收{卡密内容}")));
  const int after = addCategory(1, tplJson(gbk("<{数据1}>"), gbk("您的卡如下亄")));
  const int textOnly = addCategory(2, tplJson("ignored", gbk("下载地址：http://example.com/淺")));
  addCards(inside, 1);
  addCards(after, 2);
  SimOrder order = place("b", {{addItem("A", inside), 1}, {addItem("B", after), 2}, {addItem("C", textOnly), 3}});
  tick();

  ASSERT_EQ(statusOf(order.id), kOrderDelivered) << ofOrder("`text_msg`", order.id);
  EXPECT_EQ(ofOrder("`text_msg`", order.id),
            gbk("【A】的发货信息：您的卡：[X0]，请查收[X0]") + "\r\n" + gbk("【B】的发货信息：您的卡如下亄<N0><N1>") +
                "\r\n" + gbk("【C】的发货信息：下载地址：http://example.com/淺") + "\r\n");
  EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`<>''"), "3") << "no card for type 2";
}

TEST_F(Delivery, PlaceholdersAreFoundOnlyWhereACharacterStarts) {
  // "亄" is 0x81 0x7B: its second byte is a "{". Glued to "数据1}" it must
  // not be taken for the placeholder, and card data holding a placeholder
  // is not filled in again.
  const std::string tpl = gbk("亄数据1}|{数据1}|{数据2}");
  const int category = addCategory(1, tplJson(tpl, gbk("{卡密内容}")));
  CardRecord card;
  card.cg_id = category;
  card.data1 = gbk("{数据2}");
  card.data2 = "two";
  Item::instance()->add(getDb(), card);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  tick();
  EXPECT_EQ(ofOrder("`text_msg`", order.id),
            gbk("【T】的发货信息：亄数据1}|{数据2}|two") + "\r\n");
}

TEST_F(Delivery, AnOrderTheMarketplaceShowsShippedFailsWith1005BeforeAnyCard) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""));
  const std::vector<int> cards = addCards(category, 1);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  readOrders();
  ASSERT_TRUE(sim_->shop().setOrderState(order.id, kSimShipped));
  deliver();
  EXPECT_EQ(statusOf(order.id), orderFailed(5));
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("错误的订单状态"));
  EXPECT_EQ(markOf(cards[0]), "");
  EXPECT_TRUE(sim_->shop().consignments().empty());
}

TEST_F(Delivery, AnOrderWithNothingBoundIsNotDeliveredAndSaysSo) {
  const int off = addCategory(1, tplJson(gbk("{数据1}"), ""), "", 0);
  const int otherType = addCategory(7, tplJson(gbk("{数据1}"), ""));
  addCards(off, 1);
  const std::string unbound = addItem("unbound", 0);
  SimOrder order = place("b", {{unbound, 1}, {addItem("off", off), 1}, {addItem("odd", otherType), 1}});
  config_->set(getDb(), "notice_success_order", "1");
  config_->set(getDb(), "notice_failed_order", "1");
  tick();
  EXPECT_EQ(statusOf(order.id), orderFailed(kNotBound));
  EXPECT_TRUE(isOrderFailed(statusOf(order.id))) << "never counted as delivered";
  EXPECT_EQ(gbkToUtf8(orderStatusText(statusOf(order.id))), "未绑定，未发货（宝贝没有绑定到启用的分类，淘宝上仍待发货）");
  EXPECT_TRUE(sim_->shop().consignments().empty());
  EXPECT_TRUE(sim_->shop().memos().empty());
  ASSERT_EQ(notices().size(), 1u);
  EXPECT_NE(gbkToUtf8(notices()[0]).find("发货失败，原因：未绑定，未发货"), std::string::npos) << gbkToUtf8(notices()[0]);
  EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`<>''"), "0");
  EXPECT_EQ(fileValue("select count(*) from `msg_queue` where `to`<>'seller@example.com'"), "0");

  // Bound now and sent again by the seller: it is delivered.
  const int cards = addCategory(1, tplJson(gbk("{数据1}"), gbk("{卡密内容}")));
  addCards(cards, 1);
  GoodsCategoryMap::instance()->bind(getDb(), unbound, cards);
  Order::instance()->reset(getDb(), orderRow(order.id));
  deliver();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
}

TEST_F(Delivery, ADeletedOrderStaysAwayWhileListedAsPaidUntilTheSellerLetsItBack) {
  config_->set(getDb(), "notice_paid_order", "1");
  SimOrder order = place("b", {{addItem("unbound", 0), 1}});
  readOrders();
  ASSERT_EQ(notices().size(), 1u);
  Order::instance()->remove(getDb(), orderRow(order.id));
  tick();
  tick();
  EXPECT_EQ(fileValue("select count(*) from `orders`"), "0") << "the marketplace still lists it as paid";
  EXPECT_EQ(notices().size(), 1u) << "the seller is not told again";
  const auto deleted = Order::instance()->deletedOrders(getDb(), 10);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].order_id, order.id);

  EXPECT_TRUE(Order::instance()->forgetDeleted(getDb(), order.id));
  EXPECT_FALSE(Order::instance()->forgetDeleted(getDb(), order.id));
  readOrders();
  EXPECT_EQ(statusOf(order.id), kOrderDetailsRead);
  EXPECT_EQ(notices().size(), 2u);
}

TEST_F(Delivery, ALineWithoutQuantityTakesNoCardAndStillCounts) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), gbk("卡：{卡密内容}。")));
  addCards(category, 1);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  readOrders();
  db_->exec("update `order_goods` set `num`=0");  // the page showed no quantity
  deliver();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("【T】的发货信息：卡：。") + "\r\n");
  EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`<>''"), "0");
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
}

TEST_F(Delivery, TwoLinesOfOneCategoryTakeDifferentCards) {
  const int category = addCategory(1, tplJson(gbk("{数据1};"), gbk("{卡密内容}")));
  const std::vector<int> cards = addCards(category, 4);
  SimOrder order = place("b", {{addItem("A", category), 1}, {addItem("B", category), 2}});
  tick();
  EXPECT_EQ(ofOrder("`text_msg`", order.id),
            gbk("【A】的发货信息：N0;") + "\r\n" + gbk("【B】的发货信息：N1;N2;") + "\r\n");
  EXPECT_EQ(markOf(cards[2]), gbk("已发货：订单号：") + order.id);
  EXPECT_EQ(markOf(cards[3]), "");
  expectCountersMatchCards(category);
}

TEST_F(Delivery, ChannelSwitchesWithAndWithoutTheSellersAccount) {
  const int all = addCategory(1, tplJson(gbk("{数据1}"), gbk("{卡密内容}")), R"({"ww":1,"email":1,"web":1})");
  const int textual = addCategory(2, tplJson("", "T"), R"({"ww":"1","email":true,"web":2})");
  addCards(all, 2);
  SimOrder first = place(gbk("東乛"), {{addItem("A", all), 1}, {addItem("B", textual), 1}});
  tick();
  // Without an account only the e-mail goes.
  const std::string a = gbk("【A】的发货信息：N0");
  EXPECT_EQ(buyerMessages(), std::vector<std::string>{"1|buyer@example.com||" + a + "|" + first.id + "|"});

  Registry::instance()->set<std::string>("account", gbk("卖家淺"));
  SimOrder second = place(gbk("東乛"), {{addItem("A2", all), 1}});
  tick();
  const std::string a2 = gbk("【A2】的发货信息：N1");
  const std::string alipay = sim_->shop().order(second.id)->alipayId;
  std::vector<std::string> messages = buyerMessages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[1], "2|" + gbk("東乛") + "_ww|" + gbk("卖家淺") + "|" + a2 + "|" + second.id + "|");
  EXPECT_EQ(messages[2], "1|buyer@example.com||" + a2 + "|" + second.id + "|");
  EXPECT_EQ(messages[3], "0|" + gbk("東乛") + "|" + gbk("卖家淺") + "|" + a2 + "|" + second.id + "|" + alipay);
  Registry::instance()->set<std::string>("account", "");
}

TEST_F(Delivery, TheCategorysMailSubjectNamesTheOrderAndOnlyTheMailCarriesIt) {
  Json::Value tpl(Json::objectValue);
  tpl["cardTpl"] = "{数据1}";
  tpl["goodsTpl"] = "{卡密内容}";
  tpl["mailSubject"] = "您的卡密 {订单号} 已发出";
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  const int own = addCategory(1, utf8ToGbk(Json::writeString(writer, tpl)), R"({"ww":0,"email":1,"web":0})");
  const int usual = addCategory(1, tplJson(gbk("{数据1}"), gbk("{卡密内容}")), R"({"ww":0,"email":1,"web":0})");
  addCards(own, 1, "a");
  addCards(usual, 1, "b");
  SimOrder order = place("b1", {{addItem("A", own), 1}, {addItem("B", usual), 1}});
  tick();
  ASSERT_EQ(statusOf(order.id), 2);
  auto found = file_->query("select `subject` from `msg_queue` where `type`=1 and `to`='buyer@example.com' order by `id`");
  std::vector<std::string> subjects;
  while (found->next()) subjects.push_back((*found->fetch())["subject"].toString());
  EXPECT_EQ(subjects, (std::vector<std::string>{gbk("您的卡密 ") + order.id + gbk(" 已发出"), ""}));
}

TEST_F(Delivery, PurchaseLimitAndBlacklistFailBeforeAnyCardOfTheLine) {
  const int limited = addCategory(1, tplJson(gbk("{数据1}"), ""), R"({"limit_number":1})");
  const int unlimited = addCategory(1, tplJson(gbk("{数据1}"), ""), R"({"limit_number":0})");
  addCards(limited, 3);
  addCards(unlimited, 3);
  SimOrder overLimit = place("b", {{addItem("U", unlimited), 2}, {addItem("L", limited), 2}});
  tick();
  EXPECT_EQ(statusOf(overLimit.id), orderFailed(6));
  EXPECT_EQ(ofOrder("`text_msg`", overLimit.id), gbk("发货失败：单件购买限制"));
  EXPECT_EQ(fileValue("select count(*) from `items` where `send_order_id`<>''"), "0");

  config_->set(getDb(), "black_list", gbk("  坏人淺  \r\n\r\n") + "other\r\n");
  SimOrder black = place(gbk("坏人淺"), {{addItem("L1", limited), 1}});
  SimOrder fine = place(gbk("好人"), {{addItem("U1", unlimited), 3}});
  tick();
  EXPECT_EQ(statusOf(black.id), orderFailed(7));
  EXPECT_EQ(ofOrder("`text_msg`", black.id), gbk("发货失败：黑名单限制"));
  EXPECT_EQ(statusOf(fine.id), kOrderDelivered) << "no limit at 0, and a failure stops only its order";
  expectCountersMatchCards(limited);
  expectCountersMatchCards(unlimited);
}

TEST_F(Delivery, TheConsignFormIsPostedWhereItWasServedWithItsFieldsOverridden) {
  const int category = addCategory(2, tplJson("", "T"));
  SimOrder empty = place("b", {{addItem("A", category), 1}});
  tick();
  std::vector<SimConsignment> consigned = sim_->shop().consignments();
  ASSERT_EQ(consigned.size(), 1u);
  EXPECT_EQ(consigned[0].postedTo, "/logistics/consign/online_consign.htm?trade_id=" + empty.id)
      << "the page the consign address redirected to";
  std::map<std::string, std::string> fields = consigned[0].fields;
  EXPECT_EQ(fields["event_submit_do_dummy"], "1") << "an empty value is replaced";
  EXPECT_EQ(fields["action"], "user/consign_action");
  EXPECT_EQ(fields.count("_fmw.f._0.fe"), 1u);
  EXPECT_EQ(fields["_fmw.f._0.fe"] + fields["_fmw.f._0.fet"] + fields["mailNo"], "");
  EXPECT_EQ(fields["logisType"], "1") << "every input, the last radio winning";
  EXPECT_EQ(fields["bizOrderId"], empty.id);

  sim_->shop().setConsignVariant(2);
  sim_->shop().setConsignDummy("keep-me");
  SimOrder kept = place("b", {{addItem("B", category), 1}});
  tick();
  consigned = sim_->shop().consignments();
  ASSERT_EQ(consigned.size(), 2u);
  EXPECT_EQ(consigned[1].fields["event_submit_do_dummy"], "keep-me") << "a value the form gives is kept";
  EXPECT_EQ(statusOf(kept.id), kOrderDelivered);
}

TEST_F(Delivery, NotesOf128BytesGoWholeAnd129AreCutOnACharacterBoundary) {
  // The text is "【T】的发货信息：" (17 bytes) + the template + "\r\n".
  const std::string head = gbk("【T】的发货信息：");
  ASSERT_EQ(head.size(), 17u);
  // 128 bytes in all.
  const std::string whole(128 - 17 - 2, 'w');
  // 129 bytes in all, with a two-byte character on bytes 100 and 101.
  const std::string cut = std::string(99 - 17, 'c') + gbk("淺") + std::string(129 - 101 - 2, 'c');
  const int wholeCategory = addCategory(2, tplJson("", whole));
  const int cutCategory = addCategory(2, tplJson("", cut));
  SimOrder a = place("b", {{addItem("T", wholeCategory), 1}});
  SimOrder b = place("b", {{addItem("T", cutCategory), 1}});
  tick();
  std::vector<SimConsignment> consigned = sim_->shop().consignments();
  ASSERT_EQ(consigned.size(), 2u);
  const SimConsignment& first = consigned[0].orderId == a.id ? consigned[0] : consigned[1];
  const SimConsignment& second = consigned[0].orderId == b.id ? consigned[0] : consigned[1];
  EXPECT_EQ(first.note, head + whole + "\r\n");
  EXPECT_EQ(first.note.size(), 128u);
  EXPECT_EQ(second.note, (head + cut).substr(0, 99)) << "the character on bytes 100-101 is left out whole";
  EXPECT_EQ(consignNote(head + cut + "\r\n").size(), 99u);
  EXPECT_EQ(sim_->shop().memos().size(), 2u);
  for (const SimMemo& memo : sim_->shop().memos()) {
    EXPECT_EQ(memo.memo, memo.orderId == a.id ? head + whole + "\r\n" : head + cut + "\r\n") << "the memo is whole";
  }
}

TEST_F(Delivery, AFormWithoutInputsFails1099AndGivesTheCardsBack) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""), R"({"email":1})");
  const std::vector<int> cards = addCards(category, 2);
  sim_->shop().setFaults([] {
    SimFaults faults;
    faults.bareConsignForm = true;
    return faults;
  }());
  SimOrder order = place("b", {{addItem("T", category), 1}});
  config_->set(getDb(), "notice_failed_order", "1");
  tick();
  EXPECT_EQ(statusOf(order.id), orderFailed(99));
  EXPECT_EQ(ofOrder("`text_msg` || '/' || `send_msg`", order.id), gbk("发货匹配规则1失败") + "/");
  EXPECT_EQ(markOf(cards[0]), "");
  expectCountersMatchCards(category);
  EXPECT_TRUE(buyerMessages().empty());
  EXPECT_EQ(fileValue("select group_concat(`text_msg`) from `order_goods`"), "");
  EXPECT_EQ(notices(), std::vector<std::string>{gbk("订单：") + order.id + gbk("发货失败，原因：发货匹配规则1失败含商品：T×1 ")});
  EXPECT_EQ(stepsOf(order.id), (std::vector<std::string>{"reserved", "consign_failed", "released", "failed"}));
}

TEST_F(Delivery, AMemoPageWithoutItsFormLeavesTheOrderDeliveredAndTellsTheSeller) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""), R"({"email":1})");
  const std::vector<int> cards = addCards(category, 1);
  SimFaults faults;
  faults.dropMemoForm = true;
  sim_->shop().setFaults(faults);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  config_->set(getDb(), "notice_failed_order", "1");
  tick();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(markOf(cards[0]), gbk("已发货：订单号：") + order.id);
  EXPECT_EQ(buyerMessages().size(), 1u);
  EXPECT_TRUE(sim_->shop().memos().empty());
  const std::vector<std::string> log = logOf(order.id);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().rfind("memo_failed:", 0), 0u);
  EXPECT_NE(log.back().find(gbk("查询表单失败")), std::string::npos);
  ASSERT_EQ(notices().size(), 1u);
  EXPECT_EQ(notices()[0], gbk("订单：") + order.id + gbk("已发货，但卖家备注写入失败，原因：查询表单失败"));
}

TEST_F(Delivery, TheSimulatorRefusingTheConsignmentReleasesOnlyThisAttemptsCards) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""));
  const std::vector<int> cards = addCards(category, 3);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  tick();
  ASSERT_EQ(markOf(cards[0]), gbk("已发货：订单号：") + order.id);

  // Sent back for another delivery, which the site refuses.
  Order::instance()->reset(getDb(), orderRow(order.id));
  ASSERT_TRUE(sim_->shop().setOrderState(order.id, kSimPaid));
  SimFaults faults;
  faults.refuseConsign = true;
  sim_->shop().setFaults(faults);
  deliver();
  EXPECT_EQ(statusOf(order.id), orderFailed(4));
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("发货失败！"));
  EXPECT_EQ(markOf(cards[0]), gbk("已发货：订单号：") + order.id) << "the earlier delivery's card keeps its mark";
  EXPECT_EQ(markOf(cards[1]), "") << "this attempt's card is back";
  expectCountersMatchCards(category);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
}

TEST_F(Delivery, AConsignStateChangedBetweenTwoRequestsFails1002) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""));
  const std::vector<int> cards = addCards(category, 1);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  readOrders();
  // The detail page and its snapshot are read again first; then the buyer
  // closes the trade before the consign page is read.
  ASSERT_TRUE(sim_->shop().scheduleStateChange(order.id, kSimClosed, 2));
  deliver();
  EXPECT_EQ(statusOf(order.id), orderFailed(2));
  EXPECT_EQ(ofOrder("`text_msg`", order.id), gbk("当前订单不可进行发货处理"));
  EXPECT_EQ(markOf(cards[0]), "");
}

TEST_F(Delivery, AConsignmentWhoseAnswerNeverCameIsSettledByTheOrdersState) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""), R"({"email":1})");
  const std::vector<int> cards = addCards(category, 2);
  SimFaults faults;
  faults.dropPostAnswers = true;
  sim_->shop().setFaults(faults);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  tick();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered) << "the site shipped it; so is the order";
  EXPECT_EQ(markOf(cards[0]), gbk("已发货：订单号：") + order.id);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
  EXPECT_EQ(buyerMessages().size(), 1u);
  const std::vector<std::string> steps = stepsOf(order.id);
  EXPECT_EQ(std::vector<std::string>(steps.begin(), steps.begin() + 3),
            (std::vector<std::string>{"reserved", "consign_unanswered", "consigned"}));
}

TEST_F(Delivery, AValueOfTheWrongKindFailsOnlyItsOrder) {
  const int broken = addCategory(1, R"({"cardTpl":[1],"goodsTpl":""})");
  const int switches = addCategory(1, tplJson(gbk("{数据1}"), ""), R"(["ww"])");
  const int fine = addCategory(1, tplJson(gbk("{数据1}"), ""));
  const std::vector<int> brokenCards = addCards(broken, 1);
  addCards(switches, 1);
  addCards(fine, 1);
  SimOrder first = place("b", {{addItem("A", broken), 1}});
  SimOrder second = place("b", {{addItem("B", switches), 1}});
  SimOrder third = place("b", {{addItem("C", fine), 1}});
  tick();
  EXPECT_TRUE(isOrderFailed(statusOf(first.id)));
  EXPECT_FALSE(ofOrder("`text_msg`", first.id).empty());
  EXPECT_TRUE(isOrderFailed(statusOf(second.id)));
  EXPECT_EQ(markOf(brokenCards[0]), "");
  EXPECT_EQ(statusOf(third.id), kOrderDelivered);
  EXPECT_EQ(sim_->shop().consignments().size(), 1u);
}

TEST_F(Delivery, EachOrderReadsTheCategoryAsItIsNowAfterAnEdit) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), "A:"), R"({"email":1})");
  addCards(category, 4);
  const std::string item = addItem("G", category);
  SimOrder first = place("b", {{item, 1}});
  tick();
  EXPECT_EQ(ofOrder("`text_msg`", first.id), gbk("【G】的发货信息：") + "A:N0\r\n");

  // New templates and switches: the next order goes by them.
  CategoryRecord edited = Category::instance()->get(category);
  edited.tpl = tplJson(gbk("{数据2}"), "B:");
  edited.ext = R"({"email":0})";
  Category::instance()->update(getDb(), edited);
  SimOrder second = place("b", {{item, 1}});
  tick();
  EXPECT_EQ(ofOrder("`text_msg`", second.id), gbk("【G】的发货信息：") + "B:P1\r\n");
  EXPECT_EQ(buyerMessages().size(), 1u) << "the e-mail switch was turned off";

  // A template that cannot be read fails every order, not only the first,
  // and the old one read fine before does not stand in for it.
  edited.tpl = R"({"cardTpl":[1],"goodsTpl":""})";
  Category::instance()->update(getDb(), edited);
  SimOrder third = place("b", {{item, 1}});
  tick();
  SimOrder fourth = place("b", {{item, 1}});
  tick();
  EXPECT_TRUE(isOrderFailed(statusOf(third.id)));
  EXPECT_TRUE(isOrderFailed(statusOf(fourth.id)));

  // Back to the first texts: read as they were.
  edited.tpl = tplJson(gbk("{数据1}"), "A:");
  edited.ext = R"({"email":1})";
  Category::instance()->update(getDb(), edited);
  SimOrder fifth = place("b", {{item, 1}});
  tick();
  EXPECT_EQ(ofOrder("`text_msg`", fifth.id), gbk("【G】的发货信息：") + "A:N2\r\n");
  EXPECT_EQ(buyerMessages().size(), 2u);
  EXPECT_EQ(logOf(fifth.id)[0], "reserved:N2");
  expectCountersMatchCards(category);
}

TEST_F(Delivery, AnOrderBeingDeliveredCanBeNeitherResetNorDeleted) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""));
  addCards(category, 1);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  readOrders();
  db_->exec("update `orders` set `status`=3");
  EXPECT_THROW(Order::instance()->reset(getDb(), orderRow(order.id)), Exception);
  EXPECT_THROW(Order::instance()->remove(getDb(), orderRow(order.id)), Exception);
  EXPECT_EQ(statusOf(order.id), kOrderDelivering);
  EXPECT_EQ(fileValue("select count(*) from `order_goods`"), "1");
}

TEST_F(Delivery, NoTransactionIsOpenWhileTheMarketplaceIsAsked) {
  const int category = addCategory(1, tplJson(gbk("{数据1}"), ""));
  addCards(category, 1);
  SimOrder order = place("b", {{addItem("T", category), 1}});
  // At each point before a request, another connection that does not wait
  // at all must get the write lock.
  struct Probe : DeliveryProbe {
    explicit Probe(std::string path) : path(std::move(path)) {}
    void reached(const std::string& point, const std::string&) override {
      auto options = std::make_shared<DatabaseOptions>();
      options->busyTimeout = std::chrono::milliseconds(0);
      auto other = std::make_shared<Db>(Env().set(options), path);
      other->open();
      try {
        other->exec("begin immediate transaction; commit transaction;");
        free.push_back(point);
      } catch (DbException e) {
        held.push_back(point);
      }
    }
    std::string path;
    std::vector<std::string> free, held;
  };
  auto probe = std::make_shared<Probe>(dbPath());
  env_.set<DeliveryProbe>(probe);
  tick();
  EXPECT_EQ(statusOf(order.id), kOrderDelivered);
  EXPECT_EQ(probe->free, (std::vector<std::string>{"reserved", "consigning", "consigned", "finished", "memo"}));
  EXPECT_TRUE(probe->held.empty());
}

}  // namespace
}  // namespace Quorvel::testing
