#include "base/Charset.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace Quorvel {
namespace {

const std::string kUtf8Zhong = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
const std::string kGbkZhong = "\xD6\xD0\xCE\xC4";

TEST(Charset, EmptyAndAsciiPassThrough) {
  EXPECT_EQ(gbkToUtf8(""), "");
  EXPECT_EQ(utf8ToGbk(""), "");
  EXPECT_EQ(gbkToUtf8("plain ascii 123"), "plain ascii 123");
  EXPECT_EQ(utf8ToGbk("plain ascii 123"), "plain ascii 123");
}

TEST(Charset, ChineseRoundTripIsByteExact) {
  EXPECT_EQ(utf8ToGbk(kUtf8Zhong), kGbkZhong);
  EXPECT_EQ(gbkToUtf8(kGbkZhong), kUtf8Zhong);
  // A GBK trail byte may be '\\' (0x5C): it must survive both ways.
  const std::string gbkWithBackslashTrail = "\x95\x5C";  // 昞 in GBK
  EXPECT_EQ(utf8ToGbk(gbkToUtf8(gbkWithBackslashTrail)), gbkWithBackslashTrail);
}

TEST(Charset, InvalidInputIsRejectedWhole) {
  try {
    utf8ToGbk("ok " + kUtf8Zhong.substr(0, 2));  // cut inside a character
    FAIL() << "no exception";
  } catch (Exception e) {
    EXPECT_EQ(e.message(), "Iconv ERROR!");
  }
  EXPECT_THROW(utf8ToGbk("\xFF\xFE"), Exception);
  EXPECT_THROW(gbkToUtf8("\xD6"), Exception);  // lead byte without trail
}

TEST(Charset, AConverterLeftByAFailureConvertsTheNextTextWhole) {
  // The thread's converters are kept between calls: a failure in the middle
  // of a character must not leak its state into the next text.
  EXPECT_THROW(gbkToUtf8("ab\xD6"), Exception);
  EXPECT_EQ(gbkToUtf8(kGbkZhong), kUtf8Zhong);
  EXPECT_THROW(utf8ToGbk(kUtf8Zhong.substr(0, 4)), Exception);
  EXPECT_EQ(utf8ToGbk(kUtf8Zhong), kGbkZhong);
}

TEST(Charset, MixedTextConvertsExactlyAsAWholeConversionWould) {
  // ASCII is copied and only the other characters go through the converter:
  // the result must not tell. Trail bytes that are ASCII codes (\ | [ { ^ ])
  // belong to their lead byte, at the start, the middle and the end.
  const std::string names = gbk("淺東乛乕亄匽");
  for (const std::string& text : {names, "a" + names + "b", "\\" + names + "|", "x\x9C\\n" + names + "[{]^",
                                  gbk("卡号：") + "AB12-" + gbk("淺") + " ok " + gbk("匽")}) {
    const std::string whole = iconvConvert("UTF-8", text, "GBK");
    EXPECT_EQ(gbkToUtf8(text), whole);
    EXPECT_EQ(utf8ToGbk(whole), text);
  }
  EXPECT_THROW(gbkToUtf8("ok " + names + " \xD6"), Exception);  // a lone lead byte at the end
  EXPECT_THROW(utf8ToGbk("ok \xE4\xB8 more"), Exception);     // a character cut in the middle
}

TEST(Charset, OutputMayGrowPastTheInputsSize) {
  const std::string text(1000, 'a');
  std::string wide = iconvConvert("UTF-32LE", text, "UTF-8");
  ASSERT_EQ(wide.size(), 4000u);
  EXPECT_EQ(wide.substr(0, 8), std::string("a\0\0\0a\0\0\0", 8));
  EXPECT_EQ(iconvConvert("UTF-8", wide, "UTF-32LE"), text);
}

TEST(Charset, UnknownCharsetFailsToOpen) {
  try {
    iconvConvert("NO-SUCH-CHARSET", "x", "UTF-8");
    FAIL() << "no exception";
  } catch (Exception e) {
    EXPECT_EQ(e.message(), "Iconv Lib Init failed!");
  }
}

}  // namespace
}  // namespace Quorvel
