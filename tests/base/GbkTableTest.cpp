// The conversion table against the system's converter, character by
// character: every two-byte GBK code and every BMP code point must convert to
// the same bytes, or fail the same way, whichever path a text takes.
#include <gtest/gtest.h>

#include <string>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkTable.h"

namespace Quorvel {
namespace {

// The converter's own answer, or "!" when it refuses the text.
std::string slow(const char* toCode, const std::string& text, const char* fromCode) {
  try {
    return iconvConvert(toCode, text, fromCode);
  } catch (Exception) {
    return "!";
  }
}

std::string fast(std::string (*convert)(const std::string&), const std::string& text) {
  try {
    return convert(text);
  } catch (Exception) {
    return "!";
  }
}

std::string utf8Of(char32_t point) {
  std::string out;
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | point >> 6);
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | point >> 12);
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | point >> 18);
    out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
  return out;
}

TEST(GbkTable, EveryDoubleByteCodeConvertsAsTheConverterDoes) {
  int known = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0x00; trail <= 0xFF; ++trail) {
      // Inside ASCII on both sides, as in a seller's text.
      const std::string text = std::string("a") + static_cast<char>(lead) + static_cast<char>(trail) + "z";
      const std::string expected = slow("UTF-8", text, "GBK");
      ASSERT_EQ(fast(gbkToUtf8, text), expected) << std::hex << lead << " " << trail;
      if (expected != "!") ++known;
    }
  }
  // GBK holds some 21,000 double-byte characters; a table made from a
  // converter that refused everything would agree with it too.
  EXPECT_GT(known, 20000);
}

TEST(GbkTable, EveryCodePointConvertsAsTheConverterDoes) {
  int known = 0;
  for (char32_t point = 0x80; point < 0x10000; ++point) {
    if (point >= 0xD800 && point <= 0xDFFF) continue;
    const std::string text = "a" + utf8Of(point) + "z";
    const std::string expected = slow("GBK", text, "UTF-8");
    ASSERT_EQ(fast(utf8ToGbk, text), expected) << std::hex << static_cast<unsigned>(point);
    if (expected != "!") ++known;
  }
  EXPECT_GT(known, 20000);
  // Beyond the BMP, GBK has nothing; the long way refuses it.
  EXPECT_EQ(fast(utf8ToGbk, "a" + utf8Of(0x1F600)), slow("GBK", "a" + utf8Of(0x1F600), "UTF-8"));
}

TEST(GbkTable, MalformedUtf8IsLeftToTheConverter) {
  const GbkTable& table = GbkTable::instance();
  for (const std::string& bad : {std::string("\xC0\xAF"), std::string("\xE0\x80\xAF"), std::string("\xED\xA0\x80"),
                                 std::string("\xE4\xB8"), std::string("\x80"), std::string("\xF0\x9F\x98\x80")}) {
    std::string out = "kept";
    EXPECT_FALSE(table.appendGbk(bad.data(), bad.size(), out));
    EXPECT_EQ(out, "kept");  // nothing half-written
    EXPECT_EQ(fast(utf8ToGbk, "x" + bad), slow("GBK", "x" + bad, "UTF-8"));
  }
  // A lead byte at the end, and a lone 0x80 or 0xFF, are no characters.
  for (const std::string& bad : {std::string("\xD6"), std::string("\x80"), std::string("\xFF"), std::string("\xD6\x7F")}) {
    std::string out = "kept";
    EXPECT_FALSE(table.appendUtf8(bad.data(), bad.size(), out));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(fast(gbkToUtf8, "x" + bad), slow("UTF-8", "x" + bad, "GBK"));
  }
}

}  // namespace
}  // namespace Quorvel
