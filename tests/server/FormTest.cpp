#include "server/Form.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/Percent.h"
#include "server/ActionTable.h"

namespace Quorvel {
namespace {

TEST(PercentDecode, EscapesPlusAndMalformedPercent) {
  EXPECT_EQ(percentDecode("%4e%4E"), "NN");
  EXPECT_EQ(percentDecode("a+b"), "a b");
  EXPECT_EQ(percentDecode("%E4%B8%AD"), "\xE4\xB8\xAD");
  // A "%" without two hexadecimal digits after it is copied as it is.
  EXPECT_EQ(percentDecode("100%"), "100%");
  EXPECT_EQ(percentDecode("%4"), "%4");
  EXPECT_EQ(percentDecode("%zz1"), "%zz1");
  EXPECT_EQ(percentDecode("%%41"), "%A");
  EXPECT_EQ(percentDecode("%00x"), std::string("\0x", 2));
}

TEST(ParseForm, KeysValuesAndOverwrites) {
  ParamMap map;
  parseForm(map, "a=1&a=2");
  EXPECT_EQ(map["a"], "2");
  parseForm(map, "x");
  EXPECT_EQ(map["x"], "x");
  parseForm(map, "k=%E4%B8%AD+%41");
  EXPECT_EQ(map["k"], "\xE4\xB8\xAD A");
  // Keys are taken as they are, values decoded; the map is not cleared.
  parseForm(map, "k%41=v%41&empty=&=novalue");
  EXPECT_EQ(map["k%41"], "vA");
  EXPECT_EQ(map["empty"], "");
  EXPECT_EQ(map[""], "novalue");
  EXPECT_EQ(map["a"], "2");
  size_t before = map.size();
  parseForm(map, "");
  EXPECT_EQ(map.size(), before);
}

// Numbers in requests are read as a stream reads an int; the faster reading
// must agree with it on every form a page or a hand-typed address may send.
TEST(ToNumber, ReadsAsAStreamReadsAnInt) {
  for (const std::string text :
       {"", "0", "7", "-7", "+7", "007", " 12", "\t\n12", "12 ", "12abc", "abc", "-", "+", "+-5", "-+5", "- 5", "+ 5",
        "0x1A", "1e3", "3.9", "2147483647", "2147483648", "-2147483648", "-2147483649", "99999999999999999999",
        "\xD6\xD0", "12\xD6\xD0", "\v\f\r-3"}) {
    std::istringstream stream(text);
    int expected = 0;
    if (!(stream >> expected)) expected = 0;
    EXPECT_EQ(toNumber(text), expected) << "[" << text << "]";
  }
}

}  // namespace
}  // namespace Quorvel
