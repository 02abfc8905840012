// The dispatch pass against the maker's stand-in service and a recording IM
// channel: the order of the types within a round, which messages leave the
// queue after a failure and which stay, the form values, and passes that end
// while messages keep failing.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <mutex>
#include <stop_token>
#include <thread>

#include "base/Charset.h"
#include "base/Registry.h"
#include "store/OrderLog.h"
#include "tests/dispatch/DispatchFixture.h"

namespace Quorvel::testing {
namespace {

using Dispatch = DispatchFixture;

TEST_F(Dispatch, EachRoundSendsOneMessageOfEachTypeInTypeOrder) {
  config_->set(getDb(), "email_send_type", "1");
  queue(0, "buyer1", "web 1");
  queue(2, "im1", "chat 1");
  queue(0, "buyer2", "web 2");
  queue(1, "a@b.test", "mail 1");
  queue(2, "im2", "chat 2");
  queue(3, "im3", "waiting");
  Registry::instance()->set<std::int64_t>("sendMsgTime", 0);

  pass();

  auto sent = service_.messages();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].action, "web_send");
  EXPECT_EQ(sent[0].msg, "web 1");
  EXPECT_EQ(sent[1].action, "email_send");
  EXPECT_EQ(sent[1].msg, "mail 1");
  EXPECT_EQ(sent[2].action, "web_send");
  EXPECT_EQ(sent[2].msg, "web 2");
  // Round one: web 1, mail 1, then chat 1; round two: web 2, then chat 2.
  ASSERT_EQ(im_->chats.size(), 2u);
  EXPECT_EQ(im_->chats[0].text, "chat 1");
  EXPECT_EQ(im_->chats[0].servicedBefore, 2u);
  EXPECT_EQ(im_->chats[1].text, "chat 2");
  EXPECT_EQ(im_->chats[1].servicedBefore, 3u);
  for (int type : {0, 1, 2}) EXPECT_TRUE(queued(type).empty()) << type;
  // Waiting chats are left to their own round, run once after the loop.
  EXPECT_EQ(queued(3).size(), 1u);
  EXPECT_EQ(im_->waitingRounds, 1);
  EXPECT_EQ(Registry::instance()->getOr<std::int64_t>("sendMsgTime", -1), kNow);
}

TEST_F(Dispatch, EmptyQueueStillStampsThePassAndRunsTheWaitingChats) {
  Registry::instance()->set<std::int64_t>("sendMsgTime", 0);
  pass();
  EXPECT_EQ(Registry::instance()->getOr<std::int64_t>("sendMsgTime", -1), kNow);
  EXPECT_EQ(im_->waitingRounds, 1);
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(Dispatch, FormValuesGoOutAsUtf8AndSurviveFormEncoding) {
  config_->set(getDb(), "email_send_type", "1");
  queue(0, gbk("买家"), gbk("卡号：1234 & 密码=5+6%"), gbk("小店"), "20240101", "alipay 9");
  queue(1, "a@b.test", gbk("库存不足"), "", gbk("单号"));
  pass();

  auto sent = service_.messages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].to, "买家");
  EXPECT_EQ(sent[0].msg, "卡号：1234 & 密码=5+6%");
  EXPECT_EQ(sent[0].from, "小店");
  EXPECT_EQ(sent[0].orderId, "20240101");
  EXPECT_EQ(sent[0].alipayId, "alipay 9");
  // The e-mail form has no alipay_id; an empty sender goes out empty.
  EXPECT_EQ(sent[1].msg, "库存不足");
  EXPECT_EQ(sent[1].from, "");
  EXPECT_EQ(sent[1].orderId, "单号");
  EXPECT_EQ(sent[1].alipayId, "");
}

TEST_F(Dispatch, WebMessageIsRemovedAfterOneAttemptWhateverTheReply) {
  service_.setAccepting(false);
  queue(0, "buyer", "refused");
  pass();
  EXPECT_TRUE(queued(0).empty());

  // Nobody listening at all counts the same.
  MakerService gone;
  const auto port = gone.start(0);
  gone.stop();
  config_->set(getDb(), "maker_base", "http://127.0.0.1:" + std::to_string(port));
  queue(0, "buyer", "unreachable");
  pass();
  EXPECT_TRUE(queued(0).empty());
}

TEST_F(Dispatch, EmailThroughTheServiceStaysUntilItIsAcceptedAndThePassStillEnds) {
  config_->set(getDb(), "email_send_type", "1");
  service_.setAccepting(false);
  const int mail = queue(1, "a@b.test", "mail");
  queue(0, "buyer1", "web 1");
  queue(0, "buyer2", "web 2");

  pass();
  // The refused e-mail kept its place; the web messages went on without it.
  EXPECT_EQ(queued(1), std::vector<int>{mail});
  EXPECT_TRUE(queued(0).empty());

  // Tried again by every later pass, never dropped.
  pass();
  EXPECT_EQ(queued(1), std::vector<int>{mail});

  service_.setAccepting(true);
  pass();
  EXPECT_TRUE(queued(1).empty());
  ASSERT_EQ(service_.messages().size(), 1u);
  EXPECT_EQ(service_.messages()[0].msg, "mail");
}

// The seller's queue view reads how often a message failed and why.
TEST_F(Dispatch, EachFailedTryIsCountedWithItsReasonAndASentMessageLeaves) {
  config_->set(getDb(), "email_send_type", "1");
  service_.setAccepting(false);
  im_->answer = false;
  const int mail = queue(1, "a@b.test", "mail");
  const int chat = queue(2, "im", "text");

  pass();
  pass();
  std::size_t total = 0;
  std::vector<MsgEntry> waiting = MsgQueue::instance()->waiting(getDb(), 10, total);
  ASSERT_EQ(total, 2u);
  EXPECT_EQ(waiting[0].id, mail);
  EXPECT_EQ(waiting[0].error_times, 2);
  EXPECT_FALSE(waiting[0].last_error.empty());
  EXPECT_EQ(waiting[1].id, chat);
  EXPECT_EQ(waiting[1].error_times, 2);
  EXPECT_EQ(waiting[1].last_error, gbk("旺旺未能发送，稍后重试"));

  service_.setAccepting(true);
  pass();
  waiting = MsgQueue::instance()->waiting(getDb(), 10, total);
  ASSERT_EQ(total, 1u);
  EXPECT_EQ(waiting[0].id, chat);
}

// A buyer message's outcome goes to its order's log with the service's
// reply; a refusal repeated pass after pass is logged once, and messages
// without an order (seller notices) are not logged.
TEST_F(Dispatch, OutcomesOfOrderMessagesGoToTheOrderLog) {
  config_->set(getDb(), "email_send_type", "1");
  service_.setAccepting(false);
  const int web = queue(0, "buyer", "web", "shop", "900");
  const int mail = queue(1, "a@b.test", "mail", "", "900");
  queue(1, "seller@b.test", "notice", "", "");
  pass();
  pass();
  service_.setAccepting(true);
  pass();
  std::vector<OrderLogRow> rows = OrderLog::instance()->of(getDb(), "900");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].step, "refused");
  EXPECT_EQ(rows[0].text.rfind("#" + std::to_string(web) + " " + gbk("站内信") + " buyer ", 0), 0u) << rows[0].text;
  EXPECT_NE(rows[0].text.find("\"SUCCESS\""), std::string::npos) << "the service's reply: " << rows[0].text;
  EXPECT_EQ(rows[1].step, "refused");
  EXPECT_EQ(rows[1].text.rfind("#" + std::to_string(mail) + " " + gbk("邮件") + " a@b.test ", 0), 0u);
  EXPECT_EQ(rows[2].step, "sent");
  EXPECT_EQ(rows[2].text.rfind("#" + std::to_string(mail) + " ", 0), 0u);
  EXPECT_EQ(fileValue("select count(*) from `order_log` where `order_id`=''"), "0");

  im_->answer = false;
  queue(2, "im", "chat", "seller", "901");
  pass();
  pass();
  rows = OrderLog::instance()->of(getDb(), "901");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].step, "refused");
}

TEST_F(Dispatch, EmailWithoutAValidSendingTypeWaitsUnsent) {
  for (const char* type : {"", "0", "4", "x"}) {
    config_->set(getDb(), "email_send_type", type);
    MsgQueue::instance()->add(getDb(), 1, "a@b.test", "", "mail", "", "");
    pass();
    EXPECT_EQ(queued(1).size(), 1u) << type;
    getDb()->exec("delete from `msg_queue`;");
  }
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(Dispatch, ChatMessagesWithoutAddresseeAreDroppedFailedOnesWaitForTheNextPass) {
  im_->answer = false;
  queue(2, "", "nobody");
  const int chat = queue(2, "im", "text", "seller im", "42");

  pass();
  ASSERT_EQ(im_->chats.size(), 1u);  // one try per pass, none for the empty addressee
  EXPECT_EQ(im_->chats[0].to, "im");
  EXPECT_EQ(im_->chats[0].from, "seller im");
  EXPECT_EQ(im_->chats[0].orderId, "42");
  EXPECT_EQ(queued(2), std::vector<int>{chat});

  im_->answer = true;
  pass();
  EXPECT_EQ(im_->chats.size(), 2u);
  EXPECT_TRUE(queued(2).empty());
}

// This system has no IM client: the program's own channel finds no main
// window, so the chat stays queued.
TEST_F(Dispatch, ProductionImChannelSendsNothingAndKeepsTheChat) {
  queue(2, "im", "text");
  env_.set<ImChannel>(ImChannel::makeProcessWide());
  pass();
  EXPECT_EQ(queued(2).size(), 1u);
}

TEST_F(Dispatch, MessagesOfAnUnknownTypeDoNotKeepThePassRunning) {
  queue(7, "x", "odd");
  queue(0, "buyer", "web");
  // The pass runs on a thread of its own: one that keeps going round the
  // message nobody sends is stopped after a bound far above a pass's few
  // milliseconds, and the test fails instead of hanging.
  std::promise<void> ended;
  std::future<void> passEnded = ended.get_future();
  std::jthread passThread([this, &ended](std::stop_token stop) {
    MessageDispatcher(env_).sendMessages(stop);
    ended.set_value();
  });
  const bool endedByItself = passEnded.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  passThread.request_stop();
  passThread.join();
  ASSERT_TRUE(endedByItself) << "the pass kept running while only a message of an unknown type was left";
  EXPECT_TRUE(queued(0).empty());
  EXPECT_EQ(queued(7).size(), 1u);
}

TEST_F(Dispatch, SettingsChangedDuringAPassApplyFromTheNextPass) {
  config_->set(getDb(), "email_send_type", "1");
  queue(0, "buyer", "web");
  queue(1, "a@b.test", "mail");
  // A chat sent in round one switches e-mail off; the pass keeps its snapshot.
  queue(2, "im", "chat");
  struct SwitchingIm : FakeImChannel {
    using FakeImChannel::FakeImChannel;
    bool sendChatMessage(const std::shared_ptr<IDb>& db, const std::string& to, const std::string& from,
                         const std::string& text, const std::string& orderId, std::stop_token stop) override {
      SystemConfig::instance()->set(db, "email_send_type", "0");
      MsgQueue::instance()->add(db, 1, "c@d.test", "", "late mail", "", "");
      return FakeImChannel::sendChatMessage(db, to, from, text, orderId, stop);
    }
  };
  auto im = std::make_shared<SwitchingIm>(service_);
  env_.set<ImChannel>(im);
  pass();
  // The mail queued meanwhile joined the pass and went by the old setting.
  ASSERT_EQ(service_.messages().size(), 3u);
  EXPECT_EQ(service_.messages()[2].msg, "late mail");
  EXPECT_TRUE(queued(1).empty());
}

// A messaging service that answers every post with the body the test sets.
class ScriptedService {
 public:
  explicit ScriptedService(std::string* reply) {
    server_.Post("/", [reply](const httplib::Request&, httplib::Response& response) {
      response.set_content(*reply, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~ScriptedService() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

TEST_F(Dispatch, OnlyATrueOrNonZeroSuccessCountsAsSent) {
  std::string reply;
  ScriptedService scripted(&reply);
  config_->set(getDb(), "maker_base", "http://127.0.0.1:" + std::to_string(scripted.port()));
  config_->set(getDb(), "email_send_type", "1");
  const std::pair<const char*, bool> cases[] = {
      {"{\"SUCCESS\":true}", true},     {"{\"SUCCESS\":2}", true},        {"{\"SUCCESS\":0.5}", true},
      {"{\"SUCCESS\":0}", false},       {"{\"SUCCESS\":false}", false},   {"{\"SUCCESS\":null}", false},
      {"{\"SUCCESS\":\"1\"}", false}, {"{\"success\":1}", false},       {"[1]", false},
      {"not json", false},               {"", false},
  };
  for (const auto& [body, sent] : cases) {
    reply = body;
    queue(1, "a@b.test", "mail");
    queue(0, "buyer", "web");  // removed whatever the reply, unreadable ones included
    pass();
    EXPECT_EQ(queued(1).empty(), sent) << body;
    EXPECT_TRUE(queued(0).empty()) << body;
    getDb()->exec("delete from `msg_queue`;");
  }
}

// A channel whose first chat hangs until the test lets it go, as a chat to a
// slow client would; every chat sent is recorded.
class HangingIm : public ImChannel {
 public:
  bool sendChatMessage(const std::shared_ptr<IDb>&, const std::string& to, const std::string&, const std::string&,
                       const std::string&, std::stop_token) override {
    bool first;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      first = first_;
      first_ = false;
    }
    if (first) gate.pass();
    std::lock_guard<std::mutex> hold(mutex_);
    sent_.push_back(to);
    return true;
  }
  void sendWaitingChats(const std::shared_ptr<IDb>&, std::stop_token) override {}
  std::vector<std::string> sent() {
    std::lock_guard<std::mutex> hold(mutex_);
    return sent_;
  }
  Gate gate;

 private:
  std::mutex mutex_;
  bool first_ = true;              // guarded by mutex_
  std::vector<std::string> sent_;  // guarded by mutex_
};

class DispatchThreads : public DispatchFixture {
 protected:
  void SetUp() override {
    DispatchFixture::SetUp();
    env_.set<ImChannel>(im_);
  }
  // Starts a pass on its own thread, as a message worker would.
  std::jthread worker(std::stop_source& stop) {
    return std::jthread([this, token = stop.get_token()] {
      MessageDispatcher(env_).sendMessages(token);
      releaseDb();
    });
  }
  std::shared_ptr<HangingIm> im_ = std::make_shared<HangingIm>();
};

// A worker held up by a slow client is replaced: its successor sends every
// other message, never the one the old worker holds, and the old worker sends
// nothing more once it is asked to stop.
TEST_F(DispatchThreads, AReplacedWorkerAndItsSuccessorNeverSendTheSameMessage) {
  for (const char* to : {"buyer1", "buyer2", "buyer3"}) queue(2, to, "cards");
  im_->gate.close();
  std::stop_source oldStop;
  std::jthread old = worker(oldStop);
  ASSERT_TRUE(im_->gate.waitHeld(1));

  std::stop_source newStop;
  worker(newStop).join();
  EXPECT_EQ(im_->sent(), (std::vector<std::string>{"buyer2", "buyer3"}));

  queue(2, "buyer4", "cards");  // arrives while the old worker still hangs
  oldStop.request_stop();
  im_->gate.open();
  old.join();
  EXPECT_EQ(im_->sent(), (std::vector<std::string>{"buyer2", "buyer3", "buyer1"}));
  EXPECT_EQ(queued(2).size(), 1u);  // buyer4 waits for the next pass
}

// Rows edited in from outside that cannot be read hold up nothing else.
TEST_F(Dispatch, AnUnreadableRowIsSetAsideAndEveryOtherMessageGoesOut) {
  queue(0, "buyer1", "web 1");
  getDb()->exec(
      "insert into `msg_queue` (`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,`alipay_id`) "
      "values ('emoji','',char(0x1F600),0,0,0,'',''), ('null',NULL,'x',0,0,0,'','')");
  queue(0, "buyer2", "web 2");
  pass();
  pass();
  auto sent = service_.messages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].msg, "web 1");
  EXPECT_EQ(sent[1].msg, "web 2");
  EXPECT_EQ(queued(0).size(), 2u);  // left for the seller to mend or delete
}

TEST(ReplyText, ALongChineseReplyIsCutBetweenCharactersAndStaysReadable) {
  const std::string word = "\xE5\x8F\x91\xE9\x80\x81";  // 发送, 3 bytes a character
  std::string reply = "{\"MSG\":\"";
  while (reply.size() < 600) reply += word;
  const std::string text = replyText(reply);
  EXPECT_LE(text.size(), 500u);
  EXPECT_EQ(text.find('?'), std::string::npos) << "cut inside a character";
  EXPECT_EQ(text.substr(text.size() - 4), gbk("发送"));
  EXPECT_EQ(replyText("ok \xFF"), "ok ?");
}

}  // namespace
}  // namespace Quorvel::testing
