// "wwTest" through a real local server on a temporary database: nothing is
// queued without a marketplace login; after one, each call queues the fixed
// test message from the logged-in account.
#include <gtest/gtest.h>

#include "api/MessagingActions.h"
#include "base/Charset.h"
#include "base/Registry.h"
#include "port/WindowSystem.h"
#include "store/Db.h"
#include "store/MsgQueue.h"
#include "store/MsgType.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

// A system where the IM client could run (though none is running).
class ImPossibleHere : public port::WindowSystem {
 public:
  bool imClientPossible() const override { return true; }
  port::Window findWindow(const std::string&, const std::string&) override { return 0; }
  void enumChildWindows(port::Window, const std::function<bool(port::Window)>&) override {}
  std::string className(port::Window) override { return ""; }
  std::string windowText(port::Window) override { return ""; }
  std::intptr_t sendMessage(port::Window, unsigned, std::uintptr_t, std::intptr_t) override { return 0; }
  std::intptr_t setText(port::Window, const std::string&) override { return 0; }
  std::intptr_t selectString(port::Window, int, const std::string&) override { return port::win::kListError; }
  bool showWindow(port::Window, int) override { return false; }
  bool setForegroundWindow(port::Window) override { return false; }
  void keyEvent(std::uint8_t, std::uint8_t, std::uint32_t) override {}
  unsigned mapVirtualKey(unsigned, unsigned) override { return 0; }
};

class MessagingActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    env_.set<port::WindowSystem>(std::make_shared<ImPossibleHere>());
    registerMessagingActions(env_);
  }

  struct Row {
    int type;
    std::string to, from, msg, orderId, alipayId;
  };
  std::vector<Row> queued() {
    std::vector<Row> rows;
    auto result = getDb()->query("select * from `msg_queue` order by `id` asc");
    while (result->next()) {
      auto row = result->fetch();
      rows.push_back({(*row)["type"].toInt(), (*row)["to"].toString(), (*row)["from"].toString(),
                      (*row)["msg"].toString(), (*row)["order_id"].toString(), (*row)["alipay_id"].toString()});
    }
    return rows;
  }

  Env env_;  // the actions' (copies share its entries)
  TestServer server_;
};

TEST_F(MessagingActions, BeforeALoginNothingIsQueued) {
  Json::Value answer = callAction(server_.port(), "wwTest", formOf({{"to", "buyer"}}));
  Json::Value expected(Json::objectValue);
  expected["SUCCESS"] = 0;
  expected["MSG"] = "未登录淘宝帐号，不能进行旺旺测试操作！";
  EXPECT_EQ(answer, expected);

  Registry::instance()->set<std::string>("account", "");  // a login that left no name
  EXPECT_EQ(callAction(server_.port(), "wwTest", formOf({{"to", "buyer"}})), expected);
  EXPECT_TRUE(queued().empty());
}

TEST_F(MessagingActions, AfterALoginEachCallQueuesTheTestMessageFromTheAccount) {
  Registry::instance()->set<std::string>("account", gbk("好店"));
  Json::Value success(Json::objectValue);
  success["SUCCESS"] = 1;
  EXPECT_EQ(callAction(server_.port(), "wwTest", formOf({{"to", "买家"}})), success);
  EXPECT_EQ(callAction(server_.port(), "wwTest", formOf({{"to", "买家"}})), success);

  auto rows = queued();
  ASSERT_EQ(rows.size(), 2u);
  for (const Row& row : rows) {
    EXPECT_EQ(row.type, kChat);
    EXPECT_EQ(row.to, gbk("买家"));
    EXPECT_EQ(row.from, gbk("好店"));
    EXPECT_EQ(row.msg, gbk("这是测试的消息发送，您收到这条消息，说明旺旺已经发货成功！"));
    EXPECT_EQ(row.orderId, "");
    EXPECT_EQ(row.alipayId, "");
  }
}

TEST_F(MessagingActions, AnEmptyAddresseeIsQueuedAsItIs) {
  Registry::instance()->set<std::string>("account", "shop");
  EXPECT_EQ(callAction(server_.port(), "wwTest")["SUCCESS"], Json::Value(1));
  auto rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].to, "");
}

// A message that cannot be queued is reported on the same server, which
// stays where the page found it.
TEST_F(MessagingActions, AFailureToQueueIsAnsweredAndTheServerStays) {
  Registry::instance()->set<std::string>("account", "shop");
  getDb()->exec(
      "create trigger `refuse_queue` before insert on `msg_queue` begin select raise(abort, 'queue refused'); end;");
  Json::Value answer = callAction(server_.port(), "wwTest", formOf({{"to", "buyer"}}));
  EXPECT_EQ(answer["SUCCESS"], Json::Value(0));
  EXPECT_NE(answer["MSG"].asString().find("queue refused"), std::string::npos);

  getDb()->exec("drop trigger `refuse_queue`;");
  EXPECT_EQ(callAction(server_.port(), "wwTest", formOf({{"to", "buyer"}}))["SUCCESS"], Json::Value(1));
  EXPECT_EQ(queued().size(), 1u);
}

}  // namespace
}  // namespace Quorvel::testing

namespace Quorvel::testing {
namespace {

TEST_F(MessagingActions, MailTestQueuesOneMailToTheNoticeAddressOnceAMailCanGoOut) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  config->setMany(getDb(), {{"notice_mailto", "seller.example.com"}, {"email_send_type", "3"},
                   {"smtp_host", "smtp.example.com"}, {"email_sender", gbk("淺東乛小店 <shop@example.com>")}});
  Json::Value refused = callAction(server_.port(), "mailTest");
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("notice_mailto"), std::string::npos) << refused["MSG"].asString();

  config->setMany(getDb(), {{"notice_mailto", "seller@example.com"}, {"email_send_type", ""}});
  refused = callAction(server_.port(), "mailTest");
  EXPECT_EQ(refused["SUCCESS"], Json::Value(0));
  EXPECT_NE(refused["MSG"].asString().find("email_send_type"), std::string::npos) << refused["MSG"].asString();
  EXPECT_TRUE(queued().empty());

  config->set(getDb(), "email_send_type", "3");
  Json::Value answer = callAction(server_.port(), "mailTest");
  EXPECT_EQ(answer["SUCCESS"], Json::Value(1));
  EXPECT_EQ(answer["MSG"], Json::Value("测试邮件已加入发送队列，将由 SMTP 服务器 smtp.example.com 发送到 seller@example.com。"));
  std::vector<Row> rows = queued();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].type, kEmail);
  EXPECT_EQ(rows[0].to, "seller@example.com");
  EXPECT_EQ(rows[0].from, gbk("淺東乛小店 <shop@example.com>"));
  EXPECT_FALSE(rows[0].msg.empty());
  EXPECT_EQ(rows[0].orderId, "");
}

// This system's own window layer: no IM client can run here, so the test
// says so and queues nothing, even after a login.
TEST_F(MessagingActions, WhereNoImClientCanRunTheTestSaysSoAndQueuesNothing) {
  env_.set<port::WindowSystem>(port::WindowSystem::makeProcessWide());
  Registry::instance()->set<std::string>("account", "shop");
  Json::Value answer = callAction(server_.port(), "wwTest", formOf({{"to", "buyer"}}));
  EXPECT_EQ(answer["SUCCESS"], Json::Value(0));
  EXPECT_EQ(answer["MSG"].asString(), kNoImClientHere);
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(callAction(server_.port(), "msgQueue&action=lst")["IM_AVAILABLE"], Json::Value(false));
}

// The queue view through the server: the list with tries and last error,
// a retry that starts the count again, a delete, and refusals that say why.
TEST_F(MessagingActions, TheQueueViewListsRetriesAndDeletes) {
  const int chat = MsgQueue::instance()->add(getDb(), kChat, gbk("买家"), "shop", "text", "77", "");
  const int mail = MsgQueue::instance()->add(getDb(), kEmail, "a@x.cn", "shop", "mail", "", "");
  getDb()->exec("update `msg_queue` set `error_times`=3, `last_error`='" + std::string("no window") +
                "' where `id`=" + std::to_string(chat));

  Json::Value list = callAction(server_.port(), "msgQueue&action=lst");
  ASSERT_EQ(list["SUCCESS"], Json::Value(1));
  EXPECT_EQ(list["TOTAL"].asUInt(), 2u);
  ASSERT_EQ(list["LIST"].size(), 2u);
  const Json::Value& first = list["LIST"][0];
  EXPECT_EQ(first["id"].asInt(), chat);
  EXPECT_EQ(first["type_text"].asString(), "旺旺");
  EXPECT_EQ(first["to"].asString(), "买家");
  EXPECT_EQ(first["order_id"].asString(), "77");
  EXPECT_EQ(first["tries"].asInt(), 3);
  EXPECT_EQ(first["last_error"].asString(), "no window");
  EXPECT_EQ(list["LIST"][1]["type_text"].asString(), "邮件");
  EXPECT_EQ(list["IM_AVAILABLE"], Json::Value(true));

  Json::Value retried = callAction(server_.port(), "msgQueue&action=retry", formOf({{"id", std::to_string(chat)}}));
  EXPECT_EQ(retried["SUCCESS"], Json::Value(1));
  list = callAction(server_.port(), "msgQueue&action=lst");
  EXPECT_EQ(list["LIST"][0]["tries"].asInt(), 0);
  EXPECT_EQ(list["LIST"][0]["last_error"].asString(), "");

  Json::Value removed = callAction(server_.port(), "msgQueue&action=del", formOf({{"id", std::to_string(mail)}}));
  EXPECT_EQ(removed["SUCCESS"], Json::Value(1));
  Json::Value again = callAction(server_.port(), "msgQueue&action=del", formOf({{"id", std::to_string(mail)}}));
  EXPECT_EQ(again["SUCCESS"], Json::Value(0));
  EXPECT_NE(again["MSG"].asString().find("队列里没有这条消息"), std::string::npos);
  Json::Value bad = callAction(server_.port(), "msgQueue&action=del", formOf({{"id", "1 or 1=1"}}));
  EXPECT_EQ(bad["SUCCESS"], Json::Value(0));
  EXPECT_EQ(queued().size(), 1u);
}

}  // namespace
}  // namespace Quorvel::testing
