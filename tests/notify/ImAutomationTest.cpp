// The IM automation against the simulated client: what is typed, in which
// pieces, with which keys and pauses; the client's other answers (notice
// box, add-friend dialog, account dialog); the bounded waits; the waiting
// messages and their expiry; the chat name in the link.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stop_token>
#include <thread>

#include "base/Charset.h"
#include "notify/ImAutomation.h"
#include "store/MsgType.h"
#include "store/SystemConfig.h"
#include "tests/delivery/Fakes.h"
#include "tests/notify/SimImClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kDay = 86400;

// "买家" as the link carries it.
const char kBuyerInLink[] = "%E4%B9%B0%E5%AE%B6";

std::string linkFor(const std::string& encodedName) {
  return "http://im.test/webww/?ver=1&&touid=cntaobao" + encodedName + "&siteid=cntaobao&status=1";
}

// The client's send keys, as the input box and the desktop see them.
std::vector<std::string> sendKeys() {
  return {"WM_KEYDOWN d 40000000", "WM_CHAR a 0",     "WM_KEYUP d 0",          "keybd_event 11 1d 0",
          "WM_KEYDOWN 11 0",       "WM_KEYDOWN d 40000000", "WM_CHAR a 0", "WM_KEYUP d 0",
          "WM_KEYUP 11 0",         "keybd_event 11 1d 2"};
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// What one piece looks like: set (after `before` pauses), a second, the keys.
void appendPiece(std::vector<std::string>& events, const std::string& piece, bool waitBefore) {
  if (waitBefore) events.push_back("sleep 1");
  events.push_back("settext " + piece);
  events.push_back("sleep 1");
  for (const std::string& key : sendKeys()) events.push_back(key);
}

int countOf(const std::vector<std::string>& events, const std::string& event) {
  return static_cast<int>(std::count(events.begin(), events.end(), event));
}

struct QueuedRow {
  int type;
  std::string to, from, msg, orderId, alipayId;
  std::int64_t created;
};

class ImAutomationTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    config_ = SystemConfig::instance();
    config_->set(getDb(), "market_webim_host", "http://im.test");
    sim_->install();
    env_ = sim_->env();
  }

  bool send(const std::string& text, const std::string& orderId = "T1", std::stop_token stop = {}) {
    return ImAutomation(env_).sendChatMessage(getDb(), buyer_, seller_, text, orderId, stop);
  }

  std::string chatTitle() const { return buyer_ + " - " + seller_; }
  std::string chatText(const std::string& text, const std::string& orderId = "T1") const {
    return gbk("订单：") + orderId + gbk("的发货内容：\r\n") + text;
  }

  std::vector<QueuedRow> rows() {
    std::vector<QueuedRow> found;
    auto result = getDb()->query("select * from `msg_queue` order by `id` asc");
    while (result->next()) {
      auto row = result->fetch();
      found.push_back({(*row)["type"].toInt(), (*row)["to"].toString(), (*row)["from"].toString(),
                       (*row)["msg"].toString(), (*row)["order_id"].toString(), (*row)["alipay_id"].toString(),
                       (*row)["create_time"].toInt()});
    }
    return found;
  }

  // A waiting message created `daysAgo` days before now.
  void queueWaiting(const std::string& msg, double daysAgo, const std::string& to = "") {
    const std::int64_t now = sim_->clock()->now();
    sim_->clock()->set(now - static_cast<std::int64_t>(daysAgo * kDay));
    ImAutomation::queueWaitingChat(getDb(), to.empty() ? buyer_ : to, seller_, msg, "T9");
    sim_->clock()->set(now);
  }

  void enableWaiting(const std::string& days) {
    config_->set(getDb(), "wangwang_initiative_enable", "1");
    config_->set(getDb(), "wangwang_retry_timeout", days);
  }

  const std::string seller_ = gbk("好店");
  const std::string buyer_ = gbk("买家");
  std::shared_ptr<SimImClient> sim_ = std::make_shared<SimImClient>(seller_, buyer_, linkFor(kBuyerInLink), kNow);
  std::shared_ptr<SystemConfig> config_;
  // The automation's parties: the simulated client and its clock.
  Env env_;
};

TEST_F(ImAutomationTest, AClientThatIsNotRunningAnswersFalseAtOnce) {
  sim_->quit();
  EXPECT_FALSE(send("cards"));
  EXPECT_TRUE(sim_->events().empty());  // no link, no pause
  EXPECT_TRUE(rows().empty());
}

TEST_F(ImAutomationTest, AShortTextIsTypedAsOnePieceAndTheChatClosed) {
  ASSERT_TRUE(send(gbk("卡号：1234 密码：5678")));

  std::vector<std::string> expected = {"navigate " + linkFor(kBuyerInLink), "show " + chatTitle() + " 2"};
  appendPiece(expected, chatText(gbk("卡号：1234 密码：5678")), false);
  expected.push_back("sleep 1");
  expected.push_back("close " + chatTitle());
  EXPECT_EQ(sim_->events(), expected);
  EXPECT_FALSE(sim_->chatOpen());
  EXPECT_TRUE(rows().empty());
}

TEST_F(ImAutomationTest, TextIsCutIntoPiecesOf400Utf16Units) {
  sim_->openChat();
  const port::Window chat = sim_->findWindow("StandardFrame", chatTitle());
  // Mixed one- and two-byte characters: the cut counts characters, not bytes.
  const std::string first = repeat(gbk("卡"), 200) + repeat("a", 200);
  const std::string second = repeat("b", 300) + repeat(gbk("密"), 100);
  const std::string third = repeat(gbk("码"), 50) + repeat("c", 50);

  ImAutomation::Typing typing = ImAutomation(env_).typeIntoChat(chat, first + second + third, {});
  EXPECT_TRUE(typing.finished());
  EXPECT_EQ(typing.piecesSent, 3);
  std::vector<std::string> expected;
  for (const std::string& piece : {first, second, third}) appendPiece(expected, piece, true);
  EXPECT_EQ(sim_->events(), expected);

  // Exactly 400 units are one piece, with no pause before it.
  const std::string full = repeat(gbk("货"), 400);
  auto before = sim_->events().size();
  EXPECT_EQ(ImAutomation(env_).typeIntoChat(chat, full, {}).piecesSent, 1);
  auto events = sim_->events();
  std::vector<std::string> one;
  appendPiece(one, full, false);
  EXPECT_EQ(std::vector<std::string>(events.begin() + before, events.end()), one);

  // One more is two pieces.
  EXPECT_EQ(ImAutomation(env_).typeIntoChat(chat, full + "x", {}).piecesSent, 2);
  EXPECT_EQ(sim_->typed().back(), "x");
}

TEST_F(ImAutomationTest, ALongChatMessageWaitsBetweenPiecesAndBeforeClosing) {
  const std::string text = repeat(gbk("卡"), 900);
  ASSERT_TRUE(send(text));
  const auto typed = sim_->typed();
  ASSERT_EQ(typed.size(), 3u);
  EXPECT_EQ(typed[0], chatText(repeat(gbk("卡"), 387)));  // the header is 13 units
  EXPECT_EQ(typed[1], repeat(gbk("卡"), 400));
  EXPECT_EQ(typed[2], repeat(gbk("卡"), 113));
  auto events = sim_->events();
  EXPECT_EQ(countOf(events, "sleep 1"), 7);  // before and after each piece, before closing
  EXPECT_EQ(events.back(), "close " + chatTitle());
}

TEST_F(ImAutomationTest, ALeftoverNoticeBoxIsClosedBeforeTheLinkIsLoaded) {
  sim_->showNotice();
  ASSERT_TRUE(send("cards"));
  auto events = sim_->events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0], "close " + gbk("阿里旺旺"));
  EXPECT_EQ(events[1], "navigate " + linkFor(kBuyerInLink));
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{chatText("cards")});
}

TEST_F(ImAutomationTest, TheNoticeBoxTurnsTheMessageIntoAWaitingOne) {
  sim_->script.answer = SimAnswer::kNotice;
  sim_->script.checksBeforeAnswer = 2;
  ASSERT_TRUE(send("cards", "T7"));

  auto events = sim_->events();
  EXPECT_EQ(countOf(events, "sleep 3"), 2);
  EXPECT_EQ(events.back(), "close " + gbk("阿里旺旺"));
  EXPECT_TRUE(sim_->typed().empty());
  auto queued = rows();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].type, kWaitingChat);
  EXPECT_EQ(queued[0].to, buyer_);
  EXPECT_EQ(queued[0].from, seller_);
  EXPECT_EQ(queued[0].msg, "cards");  // the bare text, typed later as it is
  EXPECT_EQ(queued[0].orderId, "T7");
  EXPECT_EQ(queued[0].alipayId, "");
  EXPECT_EQ(queued[0].created, kNow + 6);
}

TEST_F(ImAutomationTest, TheAddFriendDialogGetsTheRequestIsConfirmedAndTheMessageWaits) {
  sim_->script.answer = SimAnswer::kAddFriend;
  sim_->script.requestBoxLate = true;  // found only when the children are looked at again
  sim_->script.okRefusals = 2;
  ASSERT_TRUE(send("cards"));

  const std::string click = " 1 e0023";  // left button at (35, 14)
  const std::vector<std::string> expected = {
      "navigate " + linkFor(kBuyerInLink),
      "foreground SearchInput",
      "foreground SearchInput",
      "foreground EditComponent",
      "request " + gbk("请联系我获取发货信息"),
      "ok WM_LBUTTONDOWN" + click, "ok WM_LBUTTONUP" + click, "sleep 1",
      "ok WM_LBUTTONDOWN" + click, "ok WM_LBUTTONUP" + click, "sleep 1",
      "ok WM_LBUTTONDOWN" + click, "ok WM_LBUTTONUP" + click};
  EXPECT_EQ(sim_->events(), expected);  // the confirmed dialog went by itself
  EXPECT_TRUE(sim_->friendConfirmed());
  EXPECT_FALSE(sim_->anyDialogOpen());
  auto queued = rows();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].type, kWaitingChat);
  EXPECT_EQ(queued[0].msg, "cards");
}

TEST_F(ImAutomationTest, AnAddFriendDialogThatIgnoresItsButtonIsClosed) {
  sim_->script.answer = SimAnswer::kAddFriend;
  sim_->script.okRefusals = 100;
  ASSERT_TRUE(send("cards"));
  auto events = sim_->events();
  EXPECT_EQ(countOf(events, "ok WM_LBUTTONUP 1 e0023"), 5);
  EXPECT_EQ(countOf(events, "close " + gbk("添加好友")), 1);
  EXPECT_FALSE(sim_->friendConfirmed());
  EXPECT_FALSE(sim_->anyDialogOpen());
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(ImAutomationTest, TheAccountDialogGetsTheSellersEntryThenTheChatOpens) {
  sim_->script.answer = SimAnswer::kAccountChoice;
  sim_->script.checksBeforeAnswer = 1;
  sim_->script.listMisses = 3;
  ASSERT_TRUE(send("cards"));

  std::vector<std::string> expected = {"navigate " + linkFor(kBuyerInLink), "sleep 3"};
  const std::string select = "select " + seller_ + gbk("[淘宝网]");
  for (int miss = 0; miss < 3; ++miss) expected.insert(expected.end(), {select, "sleep 1"});
  expected.insert(expected.end(), {select, "account WM_LBUTTONDOWN 1 50005", "account WM_LBUTTONUP 1 50005",
                                   "show " + chatTitle() + " 2"});
  auto events = sim_->events();
  ASSERT_GT(events.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + expected.size()), expected);
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{chatText("cards")});
  EXPECT_FALSE(sim_->anyDialogOpen());
  EXPECT_TRUE(rows().empty());
}

// Both waits the client can leave unanswered end after 30 tries; the message
// is neither typed nor queued anew, so the dispatch keeps it for later.
TEST_F(ImAutomationTest, BoundedWaitsEndTheSendWithFalse) {
  sim_->script.answer = SimAnswer::kAccountChoice;
  sim_->script.listMisses = 1000;
  EXPECT_FALSE(send("cards"));
  auto events = sim_->events();
  EXPECT_EQ(countOf(events, "select " + seller_ + gbk("[淘宝网]")), 30);
  EXPECT_TRUE(sim_->typed().empty());

  SimImClient refusing(seller_, buyer_, linkFor(kBuyerInLink), kNow);
  refusing.install();
  env_ = refusing.env();
  refusing.script.setTextRefusals = 1000;
  EXPECT_FALSE(send("cards"));
  events = refusing.events();
  EXPECT_EQ(countOf(events, "settext refused"), 30);
  EXPECT_EQ(countOf(events, "sleep 1"), 30);
  EXPECT_EQ(countOf(events, "WM_KEYDOWN d 40000000"), 0);  // nothing was sent
  EXPECT_TRUE(rows().empty());
  resetProcessWide();  // before `refusing` goes
  env_ = sim_->env();
}

TEST_F(ImAutomationTest, AnInputBoxThatRefusesAFewTimesGetsTheTextInTheEnd) {
  sim_->script.setTextRefusals = 2;
  ASSERT_TRUE(send("cards"));
  auto events = sim_->events();
  EXPECT_EQ(countOf(events, "settext refused"), 2);
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{chatText("cards")});
  EXPECT_EQ(countOf(events, "WM_KEYDOWN 11 0"), 1);
}

TEST_F(ImAutomationTest, NoChatAfterTenAttemptsOfTenChecksIsFalse) {
  sim_->script.answer = SimAnswer::kNothing;
  EXPECT_FALSE(send("cards"));
  EXPECT_EQ(sim_->navigations(), 10);
  EXPECT_EQ(countOf(sim_->events(), "sleep 3"), 100);
  EXPECT_TRUE(rows().empty());
}

TEST_F(ImAutomationTest, AStopWhileWaitingForTheChatEndsAtThatPause) {
  sim_->script.answer = SimAnswer::kNothing;
  std::stop_source stop;
  sim_->onEvent = [&](const std::string& event) {
    if (event == "sleep 3") stop.request_stop();
  };
  EXPECT_FALSE(send("cards", "T1", stop.get_token()));
  EXPECT_EQ(sim_->navigations(), 1);
  EXPECT_TRUE(rows().empty());
}

// A worker asked to stop after the first piece went out does not type the
// rest, and the text is never typed again from the start: what was not sent
// waits for the next open chat.
TEST_F(ImAutomationTest, WhatCouldNotFollowTheFirstPieceWaitsInsteadOfBeingRetyped) {
  std::stop_source stop;
  sim_->onEvent = [&](const std::string& event) {
    if (event == "keybd_event 11 1d 2") stop.request_stop();
  };
  const std::string text = repeat("x", 387) + repeat(gbk("余"), 500);
  ASSERT_TRUE(send(text, "T1", stop.get_token()));
  EXPECT_EQ(sim_->typed().size(), 1u);
  EXPECT_FALSE(sim_->chatOpen());
  auto queued = rows();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].type, kWaitingChat);
  EXPECT_EQ(queued[0].msg, repeat(gbk("余"), 500));
  EXPECT_EQ(queued[0].orderId, "T1");
}

TEST_F(ImAutomationTest, ANameThatCannotBePutInALinkIsDroppedWithoutLoadingAnything) {
  EXPECT_TRUE(ImAutomation(env_).sendChatMessage(getDb(), repeat("a", 5121), seller_, "cards", "T1", {}));
  EXPECT_TRUE(ImAutomation(env_).sendChatMessage(getDb(), "\x81", seller_, "cards", "T1", {}));  // not GBK
  EXPECT_EQ(sim_->navigations(), 0);
  EXPECT_TRUE(rows().empty());
}

TEST(ImChatName, EveryByteButSixteenMarksIsEscaped) {
  EXPECT_EQ(ImAutomation::encodeChatName("tb01"), "%74%62%30%31");
  EXPECT_EQ(ImAutomation::encodeChatName("!@#$&*()=:/;?+'."), "!@#$&*()=:/;?+'.");
  EXPECT_EQ(ImAutomation::encodeChatName("a-b_c~d e%"), "%61%2D%62%5F%63%7E%64%20%65%25");
  EXPECT_EQ(ImAutomation::encodeChatName(gbk("买家")), kBuyerInLink);  // UTF-8 bytes, not GBK
  EXPECT_EQ(ImAutomation::encodeChatName(""), "");
}

TEST(ImChatName, AUtf8FormLongerThan5120BytesGivesNothing) {
  EXPECT_EQ(ImAutomation::encodeChatName(repeat("a", 5120)).size(), 5120u * 3);
  EXPECT_EQ(ImAutomation::encodeChatName(repeat("a", 5121)), "");
  // 1707 Chinese characters: 3414 bytes of GBK, but 5121 of UTF-8.
  EXPECT_EQ(ImAutomation::encodeChatName(repeat(gbk("买"), 1706)).size(), 5118u * 3);
  EXPECT_EQ(ImAutomation::encodeChatName(repeat(gbk("买"), 1707)), "");
}

TEST_F(ImAutomationTest, WaitingMessagesAreTypedIntoTheOpenChatInOrderAndRemoved) {
  enableWaiting("2");
  queueWaiting("first", 1);
  queueWaiting("elsewhere", 0, gbk("别人"));
  queueWaiting("second", 0.5);
  sim_->openChat();

  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_EQ(sim_->typed(), (std::vector<std::string>{"first", "second"}));
  std::vector<std::string> expected;
  appendPiece(expected, "first", false);
  appendPiece(expected, "second", false);
  EXPECT_EQ(sim_->events(), expected);  // the chat is left open
  EXPECT_TRUE(sim_->chatOpen());
  auto queued = rows();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].msg, "elsewhere");  // its chat is not open

  // Nothing is typed twice.
  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_EQ(sim_->typed().size(), 2u);
}

TEST_F(ImAutomationTest, WaitingMessagesExpireOnlyWhileWaitingMessagesAreEnabled) {
  config_->set(getDb(), "wangwang_retry_timeout", "2");
  queueWaiting("old", 3);
  queueWaiting("recent", 1);
  sim_->openChat();

  for (const char* off : {"", "0", "true"}) {
    config_->set(getDb(), "wangwang_initiative_enable", off);
    ImAutomation(env_).sendWaitingChats(getDb(), {});
    EXPECT_EQ(rows().size(), 2u) << off;
  }
  EXPECT_TRUE(sim_->typed().empty());

  config_->set(getDb(), "wangwang_initiative_enable", "1");
  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{"recent"});  // the old one went untyped
  EXPECT_TRUE(rows().empty());
}

TEST_F(ImAutomationTest, AChatThatTakesNothingKeepsItsWaitingMessagesForTheNextRound) {
  enableWaiting("2");
  queueWaiting("first", 0);
  queueWaiting("second", 0);
  sim_->openChat();
  sim_->script.setTextRefusals = ImAutomation::kPatientTries;
  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_TRUE(sim_->typed().empty());
  EXPECT_EQ(countOf(sim_->events(), "settext refused"), ImAutomation::kPatientTries);  // "second" not tried
  EXPECT_EQ(rows().size(), 2u);

  // Their claims were given back: the next round types them.
  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_EQ(sim_->typed(), (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(rows().empty());
}

using ImAutomationThreads = ImAutomationTest;

// A round held up while typing, and a second round started beside it (a
// replaced worker and its successor): the second takes none of the messages
// the first holds, and each message is typed once.
TEST_F(ImAutomationThreads, OverlappingRoundsTypeEachWaitingMessageOnce) {
  enableWaiting("2");
  queueWaiting("first", 0);
  queueWaiting("second", 0);
  sim_->openChat();
  Gate gate;
  gate.close();
  std::atomic<bool> held{false};
  sim_->onEvent = [&](const std::string& event) {
    if (event == "settext first" && !held.exchange(true)) gate.pass();
  };
  std::jthread old([this] {
    ImAutomation(env_).sendWaitingChats(getDb(), {});
    releaseDb();
  });
  ASSERT_TRUE(gate.waitHeld(1));

  ImAutomation(env_).sendWaitingChats(getDb(), {});
  EXPECT_EQ(sim_->typed(), std::vector<std::string>{"first"});  // only the held round's set text

  gate.open();
  old.join();
  EXPECT_EQ(sim_->typed(), (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(rows().empty());
}

}  // namespace
}  // namespace Quorvel::testing
