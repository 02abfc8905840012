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

TEST(MailText, MimeHeadersAndABase64BodyWithoutDotLines) {
  std::vector<MailAddress> to = {{"Buyer ", "buyer@example.test"}, {"", "second@example.test"}};
  std::string text = buildMailText({"Shop \"A\" ", "shop@example.test"}, to, "Your cards", "line\n.dot", 0, "1.ab@example.test");
  EXPECT_THAT(text, ::testing::MatchesRegex(
                        "From: \"Shop \\\\\"A\\\\\"\" <shop@example\\.test>\r\nReply-To: shop@example\\.test\r\n"
                        "To: buyer@example\\.test,\r\n second@example\\.test\r\n"
                        "Date: [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [-+][0-9]{4}\r\n"
                        "Subject: Your cards\r\nMessage-ID: <1\\.ab@example\\.test>\r\nMIME-Version: 1\\.0\r\n"
                        "Content-Type: text/plain; charset=GBK\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                        base64Encode("line\r\n.dot") + "\r\n\\.\r\n"));
  EXPECT_THAT(buildMailText({"", "shop@example.test"}, to, "s", "b", 0, ""),
              ::testing::StartsWith("From: shop@example.test\r\nReply-To: shop@example.test\r\n"));
}

TEST(MailText, DateHasAFourDigitYearAndTheLocalOffset) {
  // 2026-12-08 18:56:25 UTC; whatever the machine's zone, the offset and the
  // local clock time together give that moment back.
  const std::string date = mailDate(1796756185);
  ASSERT_THAT(date, ::testing::MatchesRegex("Tue, 08 Dec 2026 [0-9]{2}:56:25 [-+][0-9]{4}|"
                                            "(Mon|Wed), 0[79] Dec 2026 [0-9]{2}:[0-9]{2}:25 [-+][0-9]{4}"));
  const int hour = std::stoi(date.substr(17, 2)), minute = std::stoi(date.substr(20, 2));
  const int sign = date[26] == '-' ? -1 : 1;
  const int offset = sign * (std::stoi(date.substr(27, 2)) * 60 + std::stoi(date.substr(29, 2)));
  const int day = std::stoi(date.substr(5, 2));
  EXPECT_EQ(((day - 8) * 1440 + hour * 60 + minute - offset), 18 * 60 + 56);
}

TEST(MailText, HeaderWordsAreEncodedOnlyWhenNeededAndNeverSplitACharacter) {
  EXPECT_EQ(encodeHeaderText("Order 42"), "Order 42");
  EXPECT_EQ(encodeHeaderText("=?x?"), "=?GBK?B?" + base64Encode("=?x?") + "?=");
  // "a" and 30 two-byte characters: 36 bytes would cut the 18th character
  // in half, so the first word takes "a" and 17 characters (35 bytes).
  std::string long_ = "a";
  for (int i = 0; i < 30; ++i) long_ += "\xBF\xA8";  // 卡
  const std::string encoded = encodeHeaderText(long_);
  EXPECT_EQ(encoded, "=?GBK?B?" + base64Encode(long_.substr(0, 35)) + "?=\r\n =?GBK?B?" +
                         base64Encode(long_.substr(35)) + "?=");
  for (size_t start = 0, end; start < encoded.size(); start = end + 3) {
    end = std::min(encoded.find("\r\n ", start), encoded.size());
    EXPECT_LE(end - start, 75u);
  }
}

TEST(MailText, BodyLinesAreBase64InLinesOf76) {
  const std::string body(200, 'x');
  const std::string encoded = base64MailBody(body);
  EXPECT_EQ(encoded.substr(0, 76), base64Encode(body).substr(0, 76));
  EXPECT_EQ(encoded.substr(76, 2), "\r\n");
  EXPECT_EQ(base64MailBody("a\nb\r\nc"), base64Encode("a\r\nb\r\nc"));
}

}  // namespace
}  // namespace Quorvel
