// The dispatch pass against the maker's stand-in service and a recording IM
// channel: the order of the types within a round, which messages leave the
// queue after a failure and which stay, the form values, and passes that end
// while messages keep failing.
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "base/Charset.h"
#include "base/Registry.h"
#include "tests/dispatch/DispatchFixture.h"

namespace Quorvel::testing {
namespace {

using Dispatch = DispatchFixture;

TEST_F(Dispatch, EachRoundSendsOneMessageOfEachTypeInTypeOrder) {
  config_->set("email_send_type", "1");
  queue(0, "buyer1", "web 1");
  queue(2, "im1", "chat 1");
  queue(0, "buyer2", "web 2");
  queue(1, "a@b.test", "mail 1");
  queue(2, "im2", "chat 2");
  queue(3, "im3", "waiting");
  Registry::instance().set<std::int64_t>("sendMsgTime", 0);

  dispatcher().sendMessages();

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
  EXPECT_EQ(Registry::instance().getOr<std::int64_t>("sendMsgTime", -1), kNow);
}

TEST_F(Dispatch, EmptyQueueStillStampsThePassAndRunsTheWaitingChats) {
  Registry::instance().set<std::int64_t>("sendMsgTime", 0);
  dispatcher().sendMessages();
  EXPECT_EQ(Registry::instance().getOr<std::int64_t>("sendMsgTime", -1), kNow);
  EXPECT_EQ(im_->waitingRounds, 1);
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(Dispatch, FormValuesGoOutAsUtf8AndSurviveFormEncoding) {
  config_->set("email_send_type", "1");
  queue(0, gbk("买家"), gbk("卡号：1234 & 密码=5+6%"), gbk("小店"), "20240101", "alipay 9");
  queue(1, "a@b.test", gbk("库存不足"), "", gbk("单号"));
  dispatcher().sendMessages();

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
  dispatcher().sendMessages();
  EXPECT_TRUE(queued(0).empty());

  // Nobody listening at all counts the same.
  MakerService gone;
  const auto port = gone.start(0);
  gone.stop();
  config_->set("maker_base", "http://127.0.0.1:" + std::to_string(port));
  queue(0, "buyer", "unreachable");
  dispatcher().sendMessages();
  EXPECT_TRUE(queued(0).empty());
}

TEST_F(Dispatch, EmailThroughTheServiceStaysUntilItIsAcceptedAndThePassStillEnds) {
  config_->set("email_send_type", "1");
  service_.setAccepting(false);
  const int mail = queue(1, "a@b.test", "mail");
  queue(0, "buyer1", "web 1");
  queue(0, "buyer2", "web 2");

  dispatcher().sendMessages();
  // The refused e-mail kept its place; the web messages went on without it.
  EXPECT_EQ(queued(1), std::vector<int>{mail});
  EXPECT_TRUE(queued(0).empty());

  // Tried again by every later pass, never dropped.
  dispatcher().sendMessages();
  EXPECT_EQ(queued(1), std::vector<int>{mail});

  service_.setAccepting(true);
  dispatcher().sendMessages();
  EXPECT_TRUE(queued(1).empty());
  ASSERT_EQ(service_.messages().size(), 1u);
  EXPECT_EQ(service_.messages()[0].msg, "mail");
}

TEST_F(Dispatch, EmailWithoutAValidSendingTypeWaitsUnsent) {
  for (const char* type : {"", "0", "4", "x"}) {
    config_->set("email_send_type", type);
    MsgQueue::instance()->add(1, "a@b.test", "", "mail", "", "");
    dispatcher().sendMessages();
    EXPECT_EQ(queued(1).size(), 1u) << type;
    getDb()->exec("delete from `msg_queue`;");
  }
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(Dispatch, ChatMessagesWithoutAddresseeAreDroppedFailedOnesWaitForTheNextPass) {
  im_->answer = false;
  queue(2, "", "nobody");
  const int chat = queue(2, "im", "text", "seller im", "42");

  dispatcher().sendMessages();
  ASSERT_EQ(im_->chats.size(), 1u);  // one try per pass, none for the empty addressee
  EXPECT_EQ(im_->chats[0].to, "im");
  EXPECT_EQ(im_->chats[0].from, "seller im");
  EXPECT_EQ(im_->chats[0].orderId, "42");
  EXPECT_EQ(queued(2), std::vector<int>{chat});

  im_->answer = true;
  dispatcher().sendMessages();
  EXPECT_EQ(im_->chats.size(), 2u);
  EXPECT_TRUE(queued(2).empty());
}

TEST_F(Dispatch, ProductionImChannelSendsNothingAndKeepsTheChat) {
  queue(2, "im", "text");
  MessageDispatcher(clock_, noImChannel()).sendMessages();
  EXPECT_EQ(queued(2).size(), 1u);
}

TEST_F(Dispatch, MessagesOfAnUnknownTypeDoNotKeepThePassRunning) {
  queue(7, "x", "odd");
  queue(0, "buyer", "web");
  dispatcher().sendMessages();
  EXPECT_TRUE(queued(0).empty());
  EXPECT_EQ(queued(7).size(), 1u);
}

TEST_F(Dispatch, SettingsChangedDuringAPassApplyFromTheNextPass) {
  config_->set("email_send_type", "1");
  queue(0, "buyer", "web");
  queue(1, "a@b.test", "mail");
  // A chat sent in round one switches e-mail off; the pass keeps its snapshot.
  queue(2, "im", "chat");
  struct SwitchingIm : FakeImChannel {
    using FakeImChannel::FakeImChannel;
    bool sendChatMessage(const std::string& to, const std::string& from, const std::string& text,
                         const std::string& orderId) override {
      SystemConfig::instance()->set("email_send_type", "0");
      MsgQueue::instance()->add(1, "c@d.test", "", "late mail", "", "");
      return FakeImChannel::sendChatMessage(to, from, text, orderId);
    }
  };
  auto im = std::make_shared<SwitchingIm>(service_);
  MessageDispatcher(clock_, im).sendMessages();
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
  config_->set("maker_base", "http://127.0.0.1:" + std::to_string(scripted.port()));
  config_->set("email_send_type", "1");
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
    dispatcher().sendMessages();
    EXPECT_EQ(queued(1).empty(), sent) << body;
    EXPECT_TRUE(queued(0).empty()) << body;
    getDb()->exec("delete from `msg_queue`;");
  }
}

}  // namespace
}  // namespace Quorvel::testing
