#include "notify/MailFormat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Quorvel {
namespace {

TEST(MailAddress, ParsesTheThreeShapesAndRefusesHalfBrackets) {
  auto named = parseMailAddress("Shop Owner <owner@shop.test>");
  EXPECT_EQ(named.mailbox, "owner@shop.test");
  EXPECT_EQ(named.name, "Shop Owner ");

  auto trailing = parseMailAddress("<owner@shop.test> Shop Owner ");
  EXPECT_EQ(trailing.mailbox, "owner@shop.test");
  EXPECT_EQ(trailing.name, "Shop Owner");
  EXPECT_EQ(parseMailAddress("<owner@shop.test>").name, "");

  auto bare = parseMailAddress("owner@shop.test");
  EXPECT_EQ(bare.mailbox, "owner@shop.test");
  EXPECT_EQ(bare.name, "");

  for (const char* broken : {"owner@shop.test>", "Owner <owner@shop.test", ">owner@shop.test<"}) {
    auto address = parseMailAddress(broken);
    EXPECT_EQ(address.mailbox, "") << broken;
    EXPECT_EQ(address.name, "") << broken;
  }
}

TEST(MailAddress, DeliveryDomainStopsAtTheClosingBracket) {
  EXPECT_EQ(deliveryDomain("Buyer <buyer@mail.example.test>"), "mail.example.test");
  EXPECT_EQ(deliveryDomain("buyer@example.test"), "example.test");
  EXPECT_EQ(deliveryDomain("buyer"), "");
  EXPECT_EQ(deliveryDomain("buyer@"), "");
}

TEST(MailBody, BareLineFeedsGetCarriageReturnsAndLeadingDotsAreDoubled) {
  EXPECT_EQ(normaliseMailBody("card 1234\n.hidden"), "card 1234\r\n..hidden");
  EXPECT_EQ(normaliseMailBody(".first\r\nsecond\r\n.\r\n"), "..first\r\nsecond\r\n..\r\n");
  EXPECT_EQ(normaliseMailBody("a\rb"), "a\rb");
}

TEST(MailBody, LongLinesAreBrokenAfter998Characters) {
  std::string body = normaliseMailBody(std::string(2000, 'a'));
  EXPECT_EQ(body, std::string(998, 'a') + "\r\n" + std::string(998, 'a') + "\r\n" + std::string(4, 'a'));
  // A 999-character line is over the limit too, though the body is short.
  EXPECT_EQ(normaliseMailBody(std::string(999, 'b')), std::string(998, 'b') + "\r\nb");
  EXPECT_EQ(normaliseMailBody(std::string(998, 'c')), std::string(998, 'c'));
}

TEST(MailBody, BreaksKeepTwoByteCharactersWholeAndStuffDotsTheyExpose) {
  // 997 ASCII bytes, then a two-byte GBK character that would straddle 998.
  std::string gbkChar = "\xB6\xA9";
  std::string body = normaliseMailBody(std::string(997, 'x') + gbkChar + "yz");
  EXPECT_EQ(body, std::string(997, 'x') + "\r\n" + gbkChar + "yz");

  // A "." that a break brings to the start of a line is doubled, and the
  // doubled line still fits.
  body = normaliseMailBody(std::string(998, 'x') + "." + std::string(2000, 'y'));
  EXPECT_EQ(body.substr(0, 1004), std::string(998, 'x') + "\r\n.." + std::string(2, 'y'));
  size_t start = 0;
  for (size_t end; (end = body.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 998u);
  }
  EXPECT_LE(body.size() - start, 998u);
}

TEST(MailBody, Base64MatchesTheStandardAlphabetWithPadding) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Encode("\xFF\xFE\x3F"), "//4/");
}

TEST(MailText, HeadersBodyAndClosingDot) {
  std::vector<MailAddress> to = {{"Buyer ", "buyer@example.test"}, {"", "second@example.test"}};
  std::string text = buildMailText({"Shop", "shop@example.test"}, to, "Your cards", "line\r\n..dot", 0);
  EXPECT_THAT(text, ::testing::MatchesRegex(
                        "From: shop@example\\.test \\(Shop\\) \r\nReply-To: shop@example\\.test\r\n"
                        "To: buyer@example\\.test,\r\n second@example\\.test\r\n"
                        "Date: [0-9]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [^\r\n]*\r\n"
                        "Subject: Your cards\r\n\r\nline\r\n\\.\\.dot\r\n\\.\r\n"));
  EXPECT_THAT(buildMailText({"", "shop@example.test"}, to, "s", "b", 0),
              ::testing::StartsWith("From: shop@example.test\r\nReply-To: shop@example.test\r\n"));
}

}  // namespace
}  // namespace Quorvel
