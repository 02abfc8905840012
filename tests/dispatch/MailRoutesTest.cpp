// E-mails sent by SMTP from the dispatch pass, against the in-process SMTP
// and DNS servers: the relay and MX routes with their settings, the sender
// and subject rules, and removal whatever the server answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "notify/Mailer.h"
#include "notify/MailExchangers.h"
#include "store/OrderLog.h"
#include "tests/dispatch/DispatchFixture.h"
#include "tests/notify/DnsReplies.h"
#include "tests/notify/ParsedMail.h"
#include "tests/notify/TestServers.h"

namespace Quorvel::testing {
namespace {

using namespace test;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kAccepting = {"220 relay.test", "250 relay.test", "250 ok", "250 ok",
                                             "354 go",         "250 queued",     "221 bye"};

class MailRoutes : public DispatchFixture {
 protected:
  // Mailers on the test network. MX delivery cannot listen on port 25 here,
  // so its connections go to `mxPort` and its DNS queries to `dnsPort`.
  void SetUp() override {
    DispatchFixture::SetUp();
    env_.set<port::Network>(network_);
    useMailers(0, 0);
  }
  void useMailers(uint16_t mxPort, uint16_t dnsPort) {
    env_.set(std::make_shared<MailerOptions>(MailerOptions{{1000ms, 1000ms, 1000ms}, dnsPort, mxPort}));
  }

  void useRelay(uint16_t port, const std::string& user = "", const std::string& password = "") {
    config_->set(getDb(), "email_send_type", "3");
    config_->set(getDb(), "smtp_host", "127.0.0.1");
    config_->set(getDb(), "smtp_port", std::to_string(port));
    config_->set(getDb(), "smtp_user", user);
    config_->set(getDb(), "smtp_pwd", password);
  }

  std::shared_ptr<TestNetwork> network_ = std::make_shared<TestNetwork>();
};

TEST_F(MailRoutes, RelayWithoutUserSendsUnauthenticatedWithTheDefaultSenderAndTextAsSubject) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set(getDb(), "email_sender", "");
  queue(1, "buyer@example.test", "Low stock", "");
  pass();

  const std::string dialogue = smtp.transcript(0);
  EXPECT_EQ(smtp.connections(), 1u);
  EXPECT_THAT(dialogue, Not(HasSubstr("auth LOGIN")));
  EXPECT_THAT(dialogue, HasSubstr("MAIL FROM:<" + parseMailAddress(MessageDispatcher::kDefaultSender).mailbox + ">"));
  EXPECT_THAT(dialogue, HasSubstr("RCPT TO: <buyer@example.test>"));
  EXPECT_THAT(dialogue, HasSubstr("\r\nSubject: Low stock\r\n"));
  EXPECT_THAT(dialogue, HasSubstr("\r\n\r\n" + base64Encode("Low stock") + "\r\n.\r\n"));
  EXPECT_TRUE(queued(1).empty());
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(MailRoutes, AnEmptyRelayPortMeansTheUsualSmtpPort) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set(getDb(), "smtp_port", "");
  env_.set(std::make_shared<MailerOptions>(MailerOptions{{1000ms, 1000ms, 1000ms}, 0, 0, smtp.port()}));
  queue(1, "buyer@example.test", "Low stock", "");
  pass();
  // The transcript waits for the dialogue to end; the count is taken after it.
  EXPECT_THAT(smtp.transcript(0), HasSubstr("RCPT TO: <buyer@example.test>"));
  EXPECT_EQ(smtp.connections(), 1u);
}

TEST_F(MailRoutes, RelayLogsInWithTheConfiguredUserAndTheSubjectNamesTheOrder) {
  SmtpTestServer smtp({{"220 relay.test", "250-relay.test\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6",
                        "334 UGFzc3dvcmQ6", "235 ok", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"}});
  useRelay(smtp.port(), "shop", "secret");
  config_->set(getDb(), "email_sender", "Shop <shop@example.test>");
  queue(1, "buyer@example.test", gbk("卡号 1234"), "", "777");
  pass();

  const std::string dialogue = smtp.transcript(0);
  EXPECT_THAT(dialogue, HasSubstr("auth LOGIN\r\n" + base64Encode("shop") + "\r\n" + base64Encode("secret") + "\r\n"));
  EXPECT_THAT(dialogue, HasSubstr("MAIL FROM:<shop@example.test>"));
  const ParsedMail mail = parseWithPython(dialogue);
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail.subject, "【软件自动发货】请查收订单：777的发货信息");
  EXPECT_EQ(mail.fromName, "Shop");
  EXPECT_EQ(mail.body, "卡号 1234");
  EXPECT_TRUE(queued(1).empty());
}

TEST_F(MailRoutes, AQueuedSubjectComesBeforeTheUsualOne) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set(getDb(), "email_sender", gbk("小店 <shop@example.test>"));
  MsgQueue::instance()->add(getDb(), 1, "buyer@example.test", "", gbk("卡号 1"), "778", "", gbk("您的卡密 778"));
  pass();
  const ParsedMail mail = parseWithPython(smtp.transcript(0));
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail.subject, "您的卡密 778");
  EXPECT_EQ(mail.fromName, "小店");
  EXPECT_EQ(mail.fromAddress, "shop@example.test");
}

TEST_F(MailRoutes, MessageSenderComesBeforeTheConfiguredOne) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set(getDb(), "email_sender", "Shop <shop@example.test>");
  queue(1, "buyer@example.test", "text", "own@example.test");
  pass();
  EXPECT_THAT(smtp.transcript(0), HasSubstr("MAIL FROM:<own@example.test>"));
}

TEST_F(MailRoutes, RefusedOrFailedSmtpStillRemovesTheMessage) {
  SmtpTestServer smtp({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "554 rejected", "221 bye"}});
  useRelay(smtp.port());
  // A relay name that does not resolve on the test network.
  config_->set(getDb(), "smtp_host", "relay.unknown.test");
  queue(1, "buyer@example.test", "no relay 1");
  queue(1, "buyer@example.test", "no relay 2");
  pass();
  EXPECT_EQ(smtp.connections(), 0u);
  EXPECT_TRUE(queued(1).empty());

  config_->set(getDb(), "smtp_host", "127.0.0.1");
  queue(1, "buyer@example.test", "refused", "", "900");
  pass();
  EXPECT_THAT(smtp.transcript(0), HasSubstr("\r\n" + base64Encode("refused") + "\r\n.\r\n"));
  EXPECT_TRUE(queued(1).empty());
  // The order's log keeps the server's last reply line.
  std::vector<OrderLogRow> rows = OrderLog::instance()->of(getDb(), "900");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].step, "refused");
  EXPECT_THAT(rows[0].text, HasSubstr("554 rejected"));
}

TEST_F(MailRoutes, MxDeliveryAsksTheConfiguredDnsServerAndUsesTheExchangersPort) {
  DnsTestServer dns([](const std::string& query) {
    return dnsHeader(1, 1) + query.substr(12) + mxRecord(dnsPointer(12), 10, dnsName("mx.example.test"));
  });
  SmtpTestServer smtp({kAccepting});
  network_->hosts = {{"mx.example.test", kLoopback}};
  config_->set(getDb(), "email_send_type", "2");
  config_->set(getDb(), "email_dns_server", "127.0.0.1");
  queue(1, "Buyer <buyer@example.test>", "card", "shop@example.test", "9");
  useMailers(smtp.port(), dns.port());
  pass();

  ASSERT_EQ(dns.queries().size(), 1u);
  EXPECT_EQ(dns.queries()[0], buildMxQuery("example.test"));
  EXPECT_THAT(smtp.transcript(0), HasSubstr("RCPT TO: <buyer@example.test>"));
  EXPECT_EQ(smtp.connections(), 1u);
  EXPECT_TRUE(queued(1).empty());
}

}  // namespace
}  // namespace Quorvel::testing
