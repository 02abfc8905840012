#include "notify/Mailer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/ProcessWide.h"
#include "notify/MailExchangers.h"
#include "base/Charset.h"
#include "tests/notify/DnsReplies.h"
#include "tests/notify/ParsedMail.h"
#include "tests/notify/TestServers.h"

namespace Quorvel {
namespace {

using namespace test;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

// The commands of a dialogue up to DATA, for a relay on 127.0.0.1.
const std::string kEhlo = "EHLO client.test\r\n";
const std::string kEnvelope = "MAIL FROM:<shop@example.test>\r\nRCPT TO: <buyer@example.test>\r\nDATA\r\n";

class MailerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessWide();
    env_.set<port::Network>(network_);
  }
  void TearDown() override { resetProcessWide(); }

  // Mailers built from now on wait as `timeouts_` says and ask DNS on `dnsPort`.
  void useOptions(uint16_t dnsPort = kDnsPort) {
    env_.set(std::make_shared<MailerOptions>(MailerOptions{timeouts_, dnsPort}));
  }

  std::unique_ptr<Mailer> relayMailer(const SmtpTestServer& server) {
    useOptions();
    auto mailer = std::make_unique<Mailer>(env_, false, server.port());
    setUp(*mailer);
    mailer->setServer("127.0.0.1");
    return mailer;
  }
  void setUp(Mailer& mailer) {
    mailer.setSender("Shop <shop@example.test>");
    mailer.addRecipient("Buyer <buyer@example.test>");
    mailer.setSubject("Order 42");
    mailer.setMessage("card 1234\n.pin 99");
  }
  std::shared_ptr<TestNetwork> network_ = std::make_shared<TestNetwork>();
  Env env_;
  // Generous for servers that answer; tests of silent servers wait out a
  // short one instead.
  Mailer::Timeouts timeouts_{1000ms, 1000ms, 1000ms};
  const Mailer::Timeouts kShortTimeouts{50ms, 50ms, 50ms};
};

TEST_F(MailerTest, HeloFallbackWithoutLoginSendsTheWholeTransaction) {
  SmtpTestServer server({{"220 relay.test", "502 no EHLO here", "250 relay.test", "250 sender ok",
                          "550 no such user", "354 go ahead", "250 queued as 7", "221 bye"}});
  auto mailer = relayMailer(server);
  mailer->send();
  EXPECT_EQ(mailer->status(), "250 queued as 7\r\n");

  std::string dialogue = server.transcript(0);
  ASSERT_THAT(dialogue, StartsWith(kEhlo + "HELO client.test\r\n" + kEnvelope));
  std::string text = dialogue.substr(kEhlo.size() + 18 + kEnvelope.size());
  EXPECT_THAT(text, StartsWith("From: \"Shop\" <shop@example.test>\r\nReply-To: shop@example.test\r\n"
                               "To: buyer@example.test\r\nDate: "));
  EXPECT_THAT(text, HasSubstr("\r\nSubject: Order 42\r\nMessage-ID: <"));
  EXPECT_THAT(text, HasSubstr("@example.test>\r\nMIME-Version: 1.0\r\n"));
  EXPECT_THAT(text, HasSubstr("\r\n\r\n" + base64Encode("card 1234\r\n.pin 99") + "\r\n.\r\nQUIT\r\n"));
}

// What a buyer's mail client reads: Python's `email` package, given the bytes
// the relay received, gets the exact Chinese subject, sender and body back.
TEST_F(MailerTest, AMailClientReadsTheChineseSubjectSenderAndBody) {
  SmtpTestServer server({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"}});
  useOptions();
  Mailer mailer(env_, false, server.port());
  mailer.setServer("127.0.0.1");
  mailer.setSender(gbk("网店小铺 <shop@example.test>"));
  mailer.addRecipient("buyer@example.test");
  const std::string subject = "【软件自动发货】请查收订单：3141592653589793的发货信息，谢谢惠顾";
  mailer.setSubject(gbk(subject));
  const std::string longLine(1500, 'k');
  const std::string body = "卡号：甲1234 密码：乙5678\n.以点开头的一行\n\n" + longLine + "\n最后一行";
  mailer.setMessage(gbk(body));
  mailer.send();
  ASSERT_EQ(mailer.status(), "250 queued\r\n");

  const std::string dialogue = server.transcript(0);
  const ParsedMail mail = parseWithPython(dialogue);
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail.error, "");  // no header of MIME-Version, Date, Message-ID, Subject, From missing
  EXPECT_EQ(mail.subject, subject);
  EXPECT_EQ(mail.fromName, "网店小铺");
  EXPECT_EQ(mail.fromAddress, "shop@example.test");
  EXPECT_EQ(mail.body, body);
  EXPECT_EQ(mail.contentType, "text/plain");
  EXPECT_EQ(mail.charset, "gbk");
  EXPECT_GE(mail.dateYear, 2024);
  EXPECT_THAT(mail.messageId, ::testing::MatchesRegex("<[0-9]+\\.[0-9a-f]{24}@example\\.test>"));
  // Nothing but 7-bit ASCII travels, in lines a relay keeps.
  const std::string text = dialogue.substr(dialogue.find("DATA\r\n"));
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c > 0 && c < 0x7F; }));
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 78u);
  }

  // Two mails never share a Message-ID.
  SmtpTestServer again({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "250 queued", "221 bye"}});
  Mailer second(env_, false, again.port());
  second.setServer("127.0.0.1");
  second.setSender("shop@example.test");
  second.addRecipient("buyer@example.test");
  second.setMessage("x");
  second.send();
  const ParsedMail other = parseWithPython(again.transcript(0));
  ASSERT_TRUE(other.ok) << other.error;
  EXPECT_NE(other.messageId, mail.messageId);
  EXPECT_EQ(other.fromName, "");
}

TEST_F(MailerTest, LoginNeedsAnEsmtpServerThatOffersLogin) {
  struct Case {
    std::string ehloReply;
    const char* status;
    std::string transcript;
  };
  const Case cases[] = {
      {"502 no EHLO here", "554 possibly trying to use AUTH without ESMTP server, ERROR!", kEhlo},
      {"250-relay.test\r\n250-AUTH PLAIN\r\n250 8BITMIME",
       "554 only LOGIN or PLAIN authentication is handled at present!", kEhlo + "QUIT\r\n"},
  };
  for (const auto& c : cases) {
    SmtpTestServer server({{"220 relay.test", c.ehloReply}});
    auto mailer = relayMailer(server);
    mailer->setLogin("shop", "secret");
    mailer->send();
    EXPECT_EQ(mailer->status(), c.status);
    EXPECT_EQ(server.transcript(0), c.transcript);
  }
}

TEST_F(MailerTest, LoginExchangeSendsBase64CredentialsThenTheMessage) {
  SmtpTestServer server({{"220 relay.test", "250-relay.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME",
                          "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 welcome", "250 ok", "250 ok", "354 go",
                          "250 accepted", "221 bye"}});
  auto mailer = relayMailer(server);
  mailer->setLogin("shop@example.test", "pa55word");
  mailer->send();
  EXPECT_EQ(mailer->status(), "250 accepted\r\n");
  EXPECT_THAT(server.transcript(0), StartsWith(kEhlo + "auth LOGIN\r\nc2hvcEBleGFtcGxlLnRlc3Q=\r\ncGE1NXdvcmQ=\r\n" +
                                               kEnvelope + "From: "));
}

TEST_F(MailerTest, RefusedStepsLeaveTheServersReplyAndQuit) {
  SmtpTestServer auth({{"220 relay.test", "250 relay.test AUTH LOGIN", "334 VXNlcm5hbWU6", "535 bad user", "221"}});
  auto mailer = relayMailer(auth);
  mailer->setLogin("shop", "secret");
  mailer->send();
  EXPECT_EQ(mailer->status(), "535 bad user\r\n");
  EXPECT_EQ(auth.transcript(0), kEhlo + "auth LOGIN\r\nc2hvcA==\r\nQUIT\r\n");

  SmtpTestServer sender({{"220 relay.test", "250 relay.test", "553 relaying denied", "221 bye"}});
  mailer = relayMailer(sender);
  mailer->send();
  EXPECT_EQ(mailer->status(), "553 relaying denied\r\n");
  EXPECT_EQ(sender.transcript(0), kEhlo + "MAIL FROM:<shop@example.test>\r\nQUIT\r\n");

  SmtpTestServer data({{"220 relay.test", "250 relay.test", "250 ok", "550 unknown", "554 no valid recipients", "221"}});
  mailer = relayMailer(data);
  mailer->send();
  EXPECT_EQ(mailer->status(), "554 no valid recipients\r\n");
  EXPECT_EQ(data.transcript(0), kEhlo + kEnvelope + "QUIT\r\n");

  SmtpTestServer message({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "554 looks like spam", "221"}});
  mailer = relayMailer(message);
  mailer->send();
  EXPECT_EQ(mailer->status(), "554 looks like spam\r\n");
  EXPECT_THAT(message.transcript(0), HasSubstr("\r\n.\r\nQUIT\r\n"));
}

TEST_F(MailerTest, SilentServersTimeOutWithTheReceiveFailureTexts) {
  struct Case {
    std::vector<std::string> script;
    bool login;
    const char* status;
  };
  const Case cases[] = {
      {{}, false, "554 Transaction failed: server connect response error."},
      {{"220 relay.test"}, false, "554 Transaction failed: EHLO receipt"},
      {{"220 relay.test", "500 what"}, false, "554 Transaction failed: HELO receipt"},
      {{"220 relay.test", "250 AUTH LOGIN"}, true, "554 receive failure: waiting on username question!"},
      {{"220 relay.test", "250 AUTH LOGIN", "334 VXNlcm5hbWU6"}, true,
       "554 receive failure: waiting on password question!"},
      {{"220 relay.test", "250 AUTH LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6"}, true,
       "554 receive failure: waiting on auth login response!"},
      {{"220 relay.test", "250 relay.test"}, false, "554 MAIL FROM receipt error"},
      {{"220 relay.test", "250 relay.test", "250 ok"}, false, "554 DATA, server response error"},
      {{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go"}, false,
       "554 DATA, server response error (actual send)"},
  };
  timeouts_ = kShortTimeouts;
  for (const auto& c : cases) {
    SmtpTestServer server({c.script});
    auto mailer = relayMailer(server);
    if (c.login) mailer->setLogin("shop", "secret");
    mailer->send();
    EXPECT_EQ(mailer->status(), c.status);
    server.transcript(0);
  }
  // A reply cut off in the middle of a multi-line answer is no reply either.
  SmtpTestServer partial({{"220-relay.test"}});
  auto mailer = relayMailer(partial);
  mailer->send();
  EXPECT_EQ(mailer->status(), "554 Transaction failed: server connect response error.");
}

TEST_F(MailerTest, LocalFailuresNeverReachTheNetwork) {
  Mailer empty(env_, false, 25);
  empty.send();
  EXPECT_EQ(empty.status(), "451 Requested action aborted: local error who am I mailing");
  EXPECT_FALSE(empty.setSender(""));
  EXPECT_FALSE(empty.setSender("shop@example.test\r\nRCPT TO: <x@y>"));
  EXPECT_FALSE(empty.addRecipient(""));
  EXPECT_FALSE(empty.setMessage(""));
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(empty.addRecipient("buyer@example.test"));
  EXPECT_FALSE(empty.addRecipient("buyer@example.test"));
  empty.setSender("Broken <shop@example.test");
  empty.send();
  EXPECT_EQ(empty.status(), "451 Requested action aborted: local error who am I");
  empty.setSender("shop@example.test");
  empty.send();
  EXPECT_EQ(empty.status(), "451 Requested action aborted: local error no SMTP/name server/smtp server");
  empty.setServer("relay.unknown.test");
  empty.send();
  EXPECT_EQ(empty.status(), "451 Requested action aborted: local error in processing");
  network_->hosts["relay.unknown.test"] = kLoopback;
  network_->noSockets = true;
  empty.send();
  EXPECT_EQ(empty.status(), "451 Requested action aborted: socket function error");
}

TEST_F(MailerTest, RefusedConnectionAndSubjectLineBreaks) {
  uint16_t closedPort;
  {
    SmtpTestServer gone({});
    closedPort = gone.port();
  }
  Mailer mailer(env_, false, closedPort);
  setUp(mailer);
  mailer.setServer("127.0.0.1");
  mailer.send();
  EXPECT_EQ(mailer.status(), "554 Transaction failed: server connect error.");

  SmtpTestServer server({{"220 relay.test", "250 relay.test", "250 ok", "250 ok", "354 go", "250 ok", "221"}});
  auto withSubject = relayMailer(server);
  withSubject->setSubject("first line\r\nBcc: someone@else.test");
  withSubject->send();
  EXPECT_THAT(server.transcript(0), HasSubstr("Subject: first line  Bcc: someone@else.test\r\nMessage-ID: <"));
}

class MxMailerTest : public MailerTest {
 protected:
  std::unique_ptr<Mailer> mxMailer(uint16_t smtpPort, uint16_t dnsPort) {
    useOptions(dnsPort);
    auto mailer = std::make_unique<Mailer>(env_, true, smtpPort);
    setUp(*mailer);
    mailer->setServer("127.0.0.1");
    return mailer;
  }
};

TEST_F(MxMailerTest, TriesExchangersInRecordOrderUntilOneAccepts) {
  DnsTestServer dns([](const std::string& query) {
    return dnsHeader(1, 2) + query.substr(12) + mxRecord(dnsPointer(12), 20, dnsName("down.example.test")) +
           mxRecord(dnsPointer(12), 10, std::string("\2up") + dnsPointer(12));
  });
  SmtpTestServer smtp({{"220 mx.test", "250 mx.test", "250 ok", "250 ok", "354 go", "250 delivered", "221"}});
  // The first exchanger is a loopback address nobody listens on.
  network_->hosts = {{"down.example.test", 0x7F000002}, {"up.example.test", kLoopback}};
  auto mailer = mxMailer(smtp.port(), dns.port());
  mailer->send();
  EXPECT_EQ(mailer->status(), "250 delivered\r\n");
  EXPECT_THAT(smtp.transcript(0), StartsWith(kEhlo + kEnvelope));
  ASSERT_EQ(dns.queries().size(), 1u);
  EXPECT_EQ(dns.queries()[0], buildMxQuery("example.test"));
}

TEST_F(MxMailerTest, NoUsableExchangerEndsWithoutConnecting) {
  SmtpTestServer smtp({});
  std::vector<DnsTestServer::Handler> replies = {
      [](const std::string& query) { return dnsHeader(1, 0, 0, 0, 3) + query.substr(12); },
      [](const std::string& query) { return dnsHeader(1, 0) + query.substr(12); },
      [](const std::string& query) { return query.substr(0, 12); },
      [](const std::string& query) {
        // The exchange name points back at itself.
        size_t exchange = query.size() + 14;
        return dnsHeader(1, 1) + query.substr(12) +
               mxRecord(dnsPointer(12), 10, std::string("\1a") + dnsPointer(static_cast<uint16_t>(exchange)));
      },
      [](const std::string& query) {
        std::string full = dnsHeader(1, 1) + query.substr(12) + mxRecord(dnsPointer(12), 10, dnsName("mx.test"));
        return full.substr(0, full.size() - 3);
      },
  };
  network_->hosts = {{"mx.test", kLoopback}};
  for (const auto& reply : replies) {
    DnsTestServer dns(reply);
    auto mailer = mxMailer(smtp.port(), dns.port());
    mailer->send();
    EXPECT_EQ(mailer->status(), "451 Requested action aborted: No MX records ascertained");
  }
  timeouts_ = kShortTimeouts;
  DnsTestServer silent([](const std::string&) { return std::nullopt; });
  auto unanswered = mxMailer(smtp.port(), silent.port());
  unanswered->send();
  EXPECT_EQ(unanswered->status(), "451 Requested action aborted: No MX records ascertained");

  auto noServer = mxMailer(smtp.port(), 53);
  noServer->setServer("");
  noServer->send();
  EXPECT_EQ(noServer->status(), "451 Requested action aborted: local error no SMTP/name server/smtp server");
  EXPECT_EQ(smtp.connections(), 0u);
}

}  // namespace
}  // namespace Quorvel
