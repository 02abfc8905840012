#include "notify/MailExchangers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/notify/DnsReplies.h"
#include "tests/notify/TestServers.h"

namespace Quorvel {
namespace {

using namespace test;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

const std::string kQueryHeader = u16(0x0101) + u16(0x0100) + u16(1) + u16(0) + u16(0) + u16(0);
const std::string kQuestion = dnsName("example.test") + u16(15) + u16(1);  // at offset 12

TEST(MxQuery, WritesHeaderLabelsTypeAndClass) {
  EXPECT_EQ(buildMxQuery("example.test"), kQueryHeader + kQuestion);
  EXPECT_EQ(buildMxQuery("example.test."), kQueryHeader + kQuestion);
  EXPECT_EQ(buildMxQuery("localhost"), kQueryHeader + dnsName("localhost") + u16(15) + u16(1));
  EXPECT_FALSE(buildMxQuery(""));
  EXPECT_FALSE(buildMxQuery("a..test"));
  EXPECT_FALSE(buildMxQuery(std::string(64, 'a') + ".test"));
  EXPECT_TRUE(buildMxQuery(std::string(63, 'a') + ".test"));
}

TEST(MxReplyWalk, KeepsRecordOrderAndFollowsCompressionPointers) {
  // Preference 20 before 10: the order of the records wins. The owners point
  // at the question; the second exchange is "mx2" plus a pointer to it.
  std::string reply = dnsHeader(1, 4, 0, 1) + kQuestion + mxRecord(dnsPointer(12), 20, dnsName("mx1.example.test")) +
                      dnsRecord(dnsPointer(12), 1, std::string("\x7F\0\0\x01", 4)) +
                      dnsRecord(dnsPointer(12), 15, u16(1)) +  // too short to hold a name: skipped
                      mxRecord(dnsPointer(12), 10, std::string("\3mx2") + dnsPointer(12)) +
                      mxRecord(dnsPointer(12), 5, std::string(1, '\0'));  // "." exchanges nothing
  MxReply walked = readMxReply(reply);
  EXPECT_TRUE(walked.answered);
  EXPECT_THAT(walked.exchangers, ElementsAre("mx1.example.test", "mx2.example.test"));
}

TEST(MxReplyWalk, RefusedShortTruncatedAndLoopingRepliesNeverReadPastTheBytes) {
  EXPECT_FALSE(readMxReply(dnsHeader(1, 1, 0, 0, 3) + kQuestion).answered);  // no such name
  EXPECT_FALSE(readMxReply(dnsHeader(0, 0)).answered);                      // header only

  std::string two = dnsHeader(1, 2) + kQuestion + mxRecord(dnsPointer(12), 10, dnsName("mx1.example.test")) +
                    mxRecord(dnsPointer(12), 20, dnsName("mx2.example.test"));
  for (size_t cut = 13; cut < two.size(); ++cut) {
    // Copied so that AddressSanitizer sees the end of the received bytes.
    std::string truncated = two.substr(0, cut);
    MxReply walked = readMxReply(truncated);
    EXPECT_LE(walked.exchangers.size(), 1u) << cut;
  }
  EXPECT_THAT(readMxReply(two.substr(0, two.size() - 1)).exchangers, ElementsAre("mx1.example.test"));

  // The exchange name of the first record starts after its owner pointer,
  // type, class, TTL, length and preference.
  uint16_t exchange = static_cast<uint16_t>(12 + kQuestion.size() + 14);
  std::string selfLoop = dnsHeader(1, 1) + kQuestion + mxRecord(dnsPointer(12), 10, dnsPointer(exchange));
  EXPECT_TRUE(readMxReply(selfLoop).exchangers.empty());
  std::string labelLoop =
      dnsHeader(1, 1) + kQuestion + mxRecord(dnsPointer(12), 10, std::string("\1a") + dnsPointer(exchange));
  EXPECT_TRUE(readMxReply(labelLoop).exchangers.empty());
  std::string pastEnd = dnsHeader(1, 1) + kQuestion + mxRecord(dnsPointer(12), 10, dnsPointer(0x3FFF));
  EXPECT_TRUE(readMxReply(pastEnd).exchangers.empty());
  std::string questionLoop = dnsHeader(1, 1) + dnsPointer(12) + u16(15) + u16(1);
  EXPECT_TRUE(readMxReply(questionLoop).exchangers.empty());
  // Counts far above what the bytes hold.
  EXPECT_TRUE(readMxReply(dnsHeader(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF) + kQuestion).exchangers.empty());
}

class MxLookupTest : public ::testing::Test {
 protected:
  MxLookup lookup(const std::string& dnsServer, uint16_t dnsPort, std::chrono::milliseconds timeout = 1000ms) {
    return MxLookup{dnsServer, dnsPort, "example.test", 2525, timeout};
  }
  TestNetwork network_;
  std::vector<port::Endpoint> found_;
};

TEST_F(MxLookupTest, AsksTheServerAndResolvesExchangersInRecordOrder) {
  DnsTestServer dns([](const std::string& query) {
    return dnsHeader(1, 3) + query.substr(12) + mxRecord(dnsPointer(12), 20, dnsName("second.test")) +
           mxRecord(dnsPointer(12), 10, dnsName("unknown.test")) + mxRecord(dnsPointer(12), 10, dnsName("first.test"));
  });
  network_.hosts = {{"second.test", 0x7F000002}, {"first.test", 0x7F000003}};
  ASSERT_TRUE(lookupMailExchangers(network_, lookup("127.0.0.1", dns.port()), found_));
  EXPECT_THAT(found_, ElementsAre(port::Endpoint{0x7F000002, 2525}, port::Endpoint{0x7F000003, 2525}));
  EXPECT_THAT(dns.queries(), ElementsAre(*buildMxQuery("example.test")));
}

TEST_F(MxLookupTest, FailsOnRefusedSilentOrMissingServers) {
  DnsTestServer noSuchName([](const std::string& query) { return dnsHeader(1, 0, 0, 0, 3) + query.substr(12); });
  EXPECT_FALSE(lookupMailExchangers(network_, lookup("127.0.0.1", noSuchName.port()), found_));

  DnsTestServer silent([](const std::string&) { return std::nullopt; });
  EXPECT_FALSE(lookupMailExchangers(network_, lookup("127.0.0.1", silent.port(), 50ms), found_));
  EXPECT_EQ(silent.queries().size(), 1u);

  // No DNS server by that name: the domain's own address is the exchanger.
  EXPECT_FALSE(lookupMailExchangers(network_, lookup("dns.unknown.test", 53), found_));
  network_.hosts = {{"example.test", 0x7F000004}};
  ASSERT_TRUE(lookupMailExchangers(network_, lookup("dns.unknown.test", 53), found_));
  EXPECT_THAT(found_, ElementsAre(port::Endpoint{0x7F000004, 2525}));
}

}  // namespace
}  // namespace Quorvel
