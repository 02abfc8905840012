// The one form splitter under the two rule sets the program reads forms
// with: the same texts, and where the local server and the simulated
// marketplace part ways.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/Percent.h"

namespace Quorvel {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields split(const std::string& text, const FormRules& rules) {
  Fields fields;
  splitForm(text, rules, [&fields](std::string name, std::string value) {
    fields.emplace_back(std::move(name), std::move(value));
  });
  return fields;
}

constexpr FormRules kServer{.decodeNames = false, .skipEmptyPieces = false, .bareNameIsValue = true};
constexpr FormRules kSim{.decodeNames = true, .skipEmptyPieces = true, .bareNameIsValue = false};

TEST(FormRules, BothReadPlainFormsAlikeInTextOrder) {
  const std::string text = "a=1&b=x+y%2D&a=%D6%D0&c=&d=100%";
  const Fields expected{{"a", "1"}, {"b", "x y-"}, {"a", "\xD6\xD0"}, {"c", ""}, {"d", "100%"}};
  EXPECT_EQ(split(text, kServer), expected);
  EXPECT_EQ(split(text, kSim), expected);
  EXPECT_TRUE(split("", kServer).empty());
  EXPECT_TRUE(split("", kSim).empty());
  // Only the first "=" splits.
  EXPECT_EQ(split("k=v=w", kServer), (Fields{{"k", "v=w"}}));
}

TEST(FormRules, EachDifferenceIsItsOwnRule) {
  const std::string text = "k%41=v&&x+y";
  EXPECT_EQ(split(text, kServer), (Fields{{"k%41", "v"}, {"", ""}, {"x+y", "x y"}}));
  EXPECT_EQ(split(text, kSim), (Fields{{"kA", "v"}, {"x y", ""}}));

  FormRules one;
  one.decodeNames = true;
  EXPECT_EQ(split("k%41=v", one), (Fields{{"kA", "v"}}));
  one = FormRules();
  one.skipEmptyPieces = true;
  EXPECT_EQ(split("&a=1&", one), (Fields{{"a", "1"}}));
  EXPECT_EQ(split("&a=1&", FormRules()), (Fields{{"", ""}, {"a", "1"}, {"", ""}}));
  one = FormRules();
  one.bareNameIsValue = true;
  EXPECT_EQ(split("x%41", one), (Fields{{"x%41", "xA"}}));
  EXPECT_EQ(split("x%41", FormRules()), (Fields{{"x%41", ""}}));
}

}  // namespace
}  // namespace Quorvel
