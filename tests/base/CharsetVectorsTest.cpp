// The shared charset vectors (tests/support/CharsetVectors.h): the same file
// runs in the Linux tests and in the Windows tests under Wine.
#include <gtest/gtest.h>

#include "base/Charset.h"
#include "base/Exception.h"
#include "tests/support/CharsetVectors.h"

namespace Quorvel {
namespace {

using testing::charsetPairs;

TEST(CharsetVectors, EveryPairConvertsBothWaysByteForByte) {
  for (const auto& pair : charsetPairs()) {
    EXPECT_EQ(gbkToUtf8(pair.gbk), pair.utf8) << pair.name;
    EXPECT_EQ(utf8ToGbk(pair.utf8), pair.gbk) << pair.name;
    EXPECT_EQ(iconvConvert("UTF-8", pair.gbk, "GBK"), pair.utf8) << pair.name;
  }
}

TEST(CharsetVectors, Utf16UnitsRoundTripThroughGbk) {
  for (const auto& pair : charsetPairs()) {
    const std::string units = iconvConvert("UTF-16LE", pair.gbk, "GBK");
    EXPECT_EQ(units.size() % 2, 0u) << pair.name;
    EXPECT_EQ(iconvConvert("GBK", units, "UTF-16LE"), pair.gbk) << pair.name;
    EXPECT_EQ(iconvConvert("UTF-8", units, "UTF-16LE"), pair.utf8) << pair.name;
  }
  // 中 is U+4E2D: one unit, low byte first.
  EXPECT_EQ(iconvConvert("UTF-16LE", "\xD6\xD0", "GBK"), std::string("\x2D\x4E", 2));
}

TEST(CharsetVectors, InvalidTextIsRejectedWhole) {
  for (const std::string& text : testing::invalidGbk()) {
    try {
      gbkToUtf8(text);
      ADD_FAILURE() << "accepted GBK " << text.size() << " bytes";
    } catch (Exception e) {
      EXPECT_EQ(e.message(), "Iconv ERROR!");
    }
  }
  for (const std::string& text : testing::invalidUtf8()) {
    try {
      utf8ToGbk(text);
      ADD_FAILURE() << "accepted UTF-8 " << text.size() << " bytes";
    } catch (Exception e) {
      EXPECT_EQ(e.message(), "Iconv ERROR!");
    }
  }
}

TEST(CharsetVectors, EmptyTextAndUnknownCharsets) {
  EXPECT_EQ(gbkToUtf8(""), "");
  EXPECT_EQ(utf8ToGbk(""), "");
  EXPECT_EQ(iconvConvert("UTF-16LE", "", "GBK"), "");
  try {
    iconvConvert("NO-SUCH-CHARSET", "x", "UTF-8");
    ADD_FAILURE() << "no exception";
  } catch (Exception e) {
    EXPECT_EQ(e.message(), "Iconv Lib Init failed!");
  }
}

}  // namespace
}  // namespace Quorvel
