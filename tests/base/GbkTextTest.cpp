// Character-aware search, replace and cut on GBK text whose second bytes are
// ASCII punctuation: 淺 (0x9C 0x5C "\"), 亄 (0x81 0x7B "{"), 乕 (0x81 0x5B "[").
#include "base/GbkText.h"

#include <gtest/gtest.h>

#include "base/Charset.h"

namespace Quorvel {
namespace {

TEST(GbkText, PrefixesEndBetweenCharacters) {
  const std::string text = "ab" + gbk("淺亄") + "c";  // 2 + 2 + 2 + 1 bytes
  EXPECT_EQ(gbkPrefix(text, 100), text);
  EXPECT_EQ(gbkPrefix(text, 7), text);
  EXPECT_EQ(gbkPrefix(text, 6), "ab" + gbk("淺亄"));
  EXPECT_EQ(gbkPrefix(text, 5), "ab" + gbk("淺")) << "not the first byte of 亄";
  EXPECT_EQ(gbkPrefix(text, 3), "ab");
  EXPECT_EQ(gbkPrefix(text, 0), "");
  // A lone lead byte at the end counts as one character.
  EXPECT_EQ(gbkPrefix("a\x81", 2), "a\x81");
}

TEST(GbkText, NeedlesAreFoundOnlyWhereACharacterStarts) {
  const std::string text = gbk("亄") + "x{y";
  EXPECT_EQ(text.find("{"), 1u) << "a byte-wise search finds the second byte of 亄";
  EXPECT_EQ(gbkFind(text, "{"), 3u);
  EXPECT_FALSE(gbkContains(gbk("乕"), "["));
  EXPECT_TRUE(gbkContains(gbk("乕") + "[", "["));
  EXPECT_EQ(gbkFind("abc", ""), 0u);
  EXPECT_EQ(gbkFind("abc", "abcd"), std::string::npos);
}

TEST(GbkText, ReplaceAllSkipsSecondBytesAndDoesNotRescanReplacements) {
  EXPECT_EQ(gbkReplaceAll(gbk("淺") + "\\" + gbk("淺"), "\\", "/"), gbk("淺") + "/" + gbk("淺"));
  EXPECT_EQ(gbkReplaceAll("{a}{a}", "{a}", "{a}{a}"), "{a}{a}{a}{a}");
  EXPECT_EQ(gbkReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(gbkReplaceAll(gbk("亄卡密内容}"), gbk("{卡密内容}"), "X"), gbk("亄卡密内容}"));
}

}  // namespace
}  // namespace Quorvel
