#include "market/PageText.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "market/Pattern.h"

namespace Quorvel {
namespace {

using Pieces = std::vector<std::string>;

TEST(SplitString, PiecesAndLimits) {
  EXPECT_EQ(splitString("a: b: c", ": ", 2), (Pieces{"a", "b: c"}));
  EXPECT_EQ(splitString("a: b: c", ": ", 0), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(splitString("a: b: c", ": ", 1), (Pieces{"a: b: c"}));
  EXPECT_EQ(splitString("HTTP/1.1 302 Moved Temporarily", " ", 3), (Pieces{"HTTP/1.1", "302", "Moved Temporarily"}));
  EXPECT_EQ(splitString("", ",", 0), Pieces{});
  EXPECT_EQ(splitString("a,b,", ",", 0), (Pieces{"a", "b"}));  // no empty last piece
  EXPECT_EQ(splitString("Name: ", ": ", 2), (Pieces{"Name"}));
  EXPECT_EQ(splitString(",a,,b", ",", 0), (Pieces{"", "a", "", "b"}));
  EXPECT_EQ(splitString("abc", "", 0), (Pieces{"abc"}));
}

TEST(RegexMatch, GroupsDotAllAndUnsetGroups) {
  std::vector<std::string> groups{"stale"};
  const std::string page = "<form id=\"f\">\r\n<input name=\"a\">\r\n</form> tail </form>";
  ASSERT_TRUE(regexMatch("<form id=\"f\">(.+)</form>", page, groups));
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[1], "\r\n<input name=\"a\">\r\n</form> tail ");  // greedy, across lines

  ASSERT_TRUE(regexMatch("item\\.htm\\?(item_)?id=([0-9]+)", "x item.htm?id=77 y", groups));
  EXPECT_EQ(groups, (Pieces{"item.htm?id=77", "", "77"}));

  EXPECT_FALSE(regexMatch("absent", page, groups));
  EXPECT_TRUE(groups.empty());
}

TEST(RegexMatch, BytewiseOnGbkText) {
  // Status text whose GBK bytes include 0xA0 and 0x85, which must not count
  // as white space, then the pattern's own Chinese text quoted byte by byte.
  const std::string state = "\x81\xA0\x81\x85" + gbk("等待卖家发货");
  const std::string page = gbk("当前订单状态：") + "<span class=\"wait\">\r\n  " + state + " \r\n</span>";
  std::vector<std::string> groups;
  ASSERT_TRUE(regexMatch(quotePattern(gbk("当前订单状态：")) + "<span class=\"wait\">\\s*([^\\s<]+)\\s*", page, groups));
  EXPECT_EQ(groups[1], state);
}

TEST(RegexMatchAll, EveryMatchLeftToRight) {
  std::vector<std::vector<std::string>> matches{{"stale"}};
  ASSERT_TRUE(regexMatchAll("<td class=\"num\">([0-9]+)</td>",
                            "<td class=\"num\">2</td><td class=\"num\">15</td>x<td class=\"num\">3</td>", matches));
  ASSERT_EQ(matches.size(), 3u);
  EXPECT_EQ(matches[1], (Pieces{"<td class=\"num\">15</td>", "15"}));
  EXPECT_EQ(matches[2][1], "3");

  EXPECT_FALSE(regexMatchAll("<input([^>]+)>", "no inputs", matches));
  EXPECT_TRUE(matches.empty());

  // A pattern that can match empty text still moves on through the subject.
  ASSERT_TRUE(regexMatchAll("x*", "axxb", matches));
  ASSERT_EQ(matches.size(), 4u);
  EXPECT_EQ(matches[1][0], "xx");
}

TEST(RegexReplace, ReplacementIsInsertedAsItStands) {
  EXPECT_EQ(regexReplace("if\\(window\\.top !== window\\.self\\)", "if ( false )",
                         "a if(window.top !== window.self) b if(window.top !== window.self)"),
            "a if ( false ) b if ( false )");
  EXPECT_EQ(regexReplace("(b)", "$1\\1", "abcb"), "a$1\\1c$1\\1");
  EXPECT_EQ(regexReplace("</head>", "<script></script></head>", "<head></head>"),
            "<head><script></script></head>");
  EXPECT_EQ(regexReplace("zzz", "y", "unchanged"), "unchanged");
  EXPECT_EQ(regexReplace(quotePattern(gbk("{卡密内容}")), "CARD", "[" + gbk("{卡密内容}") + "]"), "[CARD]");
}

TEST(ContainsText, IsASubstringTest) {
  const std::string page = "<div>" + gbk("标准登录框") + "</div> a|b (x) \x81\x5C";
  EXPECT_TRUE(containsText(gbk("标准登录框"), page));
  EXPECT_TRUE(containsText("a|b", page));
  EXPECT_FALSE(containsText("a|z", "only a here"));  // not alternation
  EXPECT_TRUE(containsText("(x)", page));
  EXPECT_TRUE(containsText("\x81\x5C", page));  // a trail byte that is "\"
  EXPECT_FALSE(containsText(gbk("恭喜您，操作成功"), page));
}

TEST(QuotePattern, GbkTrailBytesThatArePatternCharacters) {
  // Lead 0x81 with the trail bytes "\", "|", "[", "^", "{".
  const std::string text = "\x81\x5C\x81\x7C\x81\x5B\x81\x5E\x81\x7B a.b(c)?";
  EXPECT_EQ(quotePattern("\x81\x5C"), "\\x81\\x5C");
  std::vector<std::string> groups;
  ASSERT_TRUE(regexMatch("^" + quotePattern(text) + "$", text, groups));
  EXPECT_FALSE(regexMatch(quotePattern("a.b"), "axb", groups));
  EXPECT_TRUE(regexMatch(quotePattern("http://127.0.0.1:80/member/login.jhtml"),
                         "action=\"http://127.0.0.1:80/member/login.jhtml\"", groups));
}

TEST(RegexErrors, AreRaisedNotReportedAsNoMatch) {
  std::vector<std::string> groups;
  EXPECT_THROW(regexMatch("([unclosed", "text", groups), Exception);
  // Catastrophic backtracking hits the match limit: an error, not "no match".
  // (A lower limit keeps the test quick; the default only takes longer.)
  installProcessWide(std::make_shared<PatternLimits>(PatternLimits{100'000}));
  const std::string subject = std::string(40, 'a') + "xbc";
  EXPECT_THROW(regexMatch("(a+)+b", subject, groups), Exception);
  std::vector<std::vector<std::string>> matches;
  EXPECT_THROW(regexMatchAll("(a|aa)+c", subject, matches), Exception);
  resetProcessWide();
}

TEST(PatternThreads, CompiledPatternsAreShared) {
  // Several threads compile and use the same and different patterns at once
  // (run under ThreadSanitizer too); every thread sees every match.
  std::string page;
  for (int i = 0; i < 200; ++i) page += "<td class=\"num\">" + std::to_string(i) + "</td>";
  std::vector<size_t> counts(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < counts.size(); ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::vector<std::string>> matches;
      for (int round = 0; round < 20; ++round) {
        regexMatchAll("<td class=\"num\">([0-9]+)</td>", page, matches);
        counts[t] += matches.size();
        regexMatchAll("num\">(" + std::to_string(round) + ")<", page, matches);
        counts[t] += matches.size();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t count : counts) EXPECT_EQ(count, 20u * 200u + 20u);
}

TEST(RegexErrors, GreedyFormPatternOnALargePageStaysWithinTheLimit) {
  // The form at the top of a 4 MB page: "(.+)" runs to the end of the page and
  // backs up to the last "</form>".
  std::string page = "<form id=\"orderForm\" name=\"orderForm\" method=\"post\" ><input name=\"a\" value=\"1\"></form>";
  page += std::string(4 * 1024 * 1024, 'x');
  std::vector<std::string> groups;
  ASSERT_TRUE(regexMatch("<form id=\"orderForm\" name=\"orderForm\" method=\"post\" >(.+)</form>", page, groups));
  EXPECT_EQ(groups[1], "<input name=\"a\" value=\"1\">");
}

}  // namespace
}  // namespace Quorvel
