// E-mails sent by SMTP from the dispatch pass, against the in-process SMTP
// and DNS servers: the relay and MX routes with their settings, the sender
// and subject rules, and removal whatever the server answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "notify/MailExchangers.h"
#include "tests/dispatch/DispatchFixture.h"
#include "tests/notify/DnsReplies.h"
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
  struct Built {
    bool mxDelivery;
    uint16_t port;
  };

  // Mailers on the test network. MX delivery cannot listen on port 25 here,
  // so its connections go to `mxPort` and its DNS queries to `dnsPort`.
  MessageDispatcher::MailerFactory mailers(uint16_t mxPort = 0, uint16_t dnsPort = 0) {
    return [this, mxPort, dnsPort](bool mxDelivery, uint16_t port) {
      built_.push_back({mxDelivery, port});
      auto mailer = std::make_unique<Mailer>(mxDelivery, mxDelivery ? mxPort : port);
      mailer->setNetwork(network_);
      mailer->setTimeouts({1000ms, 1000ms, 1000ms});
      mailer->setDnsPort(dnsPort);
      return mailer;
    };
  }

  void useRelay(uint16_t port, const std::string& user = "", const std::string& password = "") {
    config_->set("email_send_type", "3");
    config_->set("smtp_host", "127.0.0.1");
    config_->set("smtp_port", std::to_string(port));
    config_->set("smtp_user", user);
    config_->set("smtp_pwd", password);
  }

  std::shared_ptr<TestNetwork> network_ = std::make_shared<TestNetwork>();
  std::vector<Built> built_;
};

TEST_F(MailRoutes, RelayWithoutUserSendsUnauthenticatedWithTheDefaultSenderAndTextAsSubject) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set("email_sender", "");
  queue(1, "buyer@example.test", "Low stock", "");
  dispatcher(mailers()).sendMessages();

  ASSERT_EQ(built_.size(), 1u);
  EXPECT_FALSE(built_[0].mxDelivery);
  EXPECT_EQ(built_[0].port, smtp.port());
  const std::string dialogue = smtp.transcript(0);
  EXPECT_THAT(dialogue, Not(HasSubstr("auth LOGIN")));
  EXPECT_THAT(dialogue, HasSubstr("MAIL FROM:<" + parseMailAddress(MessageDispatcher::kDefaultSender).mailbox + ">"));
  EXPECT_THAT(dialogue, HasSubstr("RCPT TO: <buyer@example.test>"));
  EXPECT_THAT(dialogue, HasSubstr("\r\nSubject: Low stock\r\n\r\nLow stock\r\n.\r\n"));
  EXPECT_TRUE(queued(1).empty());
  EXPECT_TRUE(service_.messages().empty());
}

TEST_F(MailRoutes, RelayLogsInWithTheConfiguredUserAndTheSubjectNamesTheOrder) {
  SmtpTestServer smtp({{"220 relay.test", "250-relay.test\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6",
                        "334 UGFzc3dvcmQ6", "235 ok", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"}});
  useRelay(smtp.port(), "shop", "secret");
  config_->set("email_sender", "Shop <shop@example.test>");
  queue(1, "buyer@example.test", gbk("卡号 1234"), "", "777");
  dispatcher(mailers()).sendMessages();

  const std::string dialogue = smtp.transcript(0);
  EXPECT_THAT(dialogue, HasSubstr("auth LOGIN\r\n" + base64Encode("shop") + "\r\n" + base64Encode("secret") + "\r\n"));
  EXPECT_THAT(dialogue, HasSubstr("MAIL FROM:<shop@example.test>"));
  EXPECT_THAT(dialogue, HasSubstr("\r\nSubject: " + gbk("【软件自动发货】请查收订单：777的发货信息") + "\r\n\r\n" +
                                      gbk("卡号 1234") + "\r\n.\r\n"));
  EXPECT_TRUE(queued(1).empty());
}

TEST_F(MailRoutes, MessageSenderComesBeforeTheConfiguredOne) {
  SmtpTestServer smtp({kAccepting});
  useRelay(smtp.port());
  config_->set("email_sender", "Shop <shop@example.test>");
  queue(1, "buyer@example.test", "text", "own@example.test");
  dispatcher(mailers()).sendMessages();
  EXPECT_THAT(smtp.transcript(0), HasSubstr("MAIL FROM:<own@example.test>"));
}

TEST_F(MailRoutes, RefusedOrFailedSmtpStillRemovesTheMessage) {
  SmtpTestServer smtp({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "554 rejected", "221 bye"}});
  useRelay(smtp.port());
  // A relay name that does not resolve on the test network.
  config_->set("smtp_host", "relay.unknown.test");
  queue(1, "buyer@example.test", "no relay 1");
  queue(1, "buyer@example.test", "no relay 2");
  dispatcher(mailers()).sendMessages();
  EXPECT_EQ(built_.size(), 2u);
  EXPECT_TRUE(queued(1).empty());

  config_->set("smtp_host", "127.0.0.1");
  queue(1, "buyer@example.test", "refused");
  dispatcher(mailers()).sendMessages();
  EXPECT_THAT(smtp.transcript(0), HasSubstr("\r\nrefused\r\n.\r\n"));
  EXPECT_TRUE(queued(1).empty());
}

TEST_F(MailRoutes, MxDeliveryAsksTheConfiguredDnsServerAndUsesPort25) {
  DnsTestServer dns([](const std::string& query) {
    return dnsHeader(1, 1) + query.substr(12) + mxRecord(dnsPointer(12), 10, dnsName("mx.example.test"));
  });
  SmtpTestServer smtp({kAccepting});
  network_->hosts = {{"mx.example.test", kLoopback}};
  config_->set("email_send_type", "2");
  config_->set("email_dns_server", "127.0.0.1");
  queue(1, "Buyer <buyer@example.test>", "card", "shop@example.test", "9");
  dispatcher(mailers(smtp.port(), dns.port())).sendMessages();

  ASSERT_EQ(built_.size(), 1u);
  EXPECT_TRUE(built_[0].mxDelivery);
  EXPECT_EQ(built_[0].port, 25);
  ASSERT_EQ(dns.queries().size(), 1u);
  EXPECT_EQ(dns.queries()[0], buildMxQuery("example.test"));
  EXPECT_THAT(smtp.transcript(0), HasSubstr("RCPT TO: <buyer@example.test>"));
  EXPECT_TRUE(queued(1).empty());
}

}  // namespace
}  // namespace Quorvel::testing
