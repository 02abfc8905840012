// The text helpers every page scraper uses on the GBK pages of the
// marketplace: pattern search, search-all and replace, a substring test, a
// splitter, and the quoting of literal text for use inside a pattern.
//
// Patterns are Perl-style, byte-wise, with "." matching line breaks (see
// Pattern.h). A pattern that does not compile, or a search the engine gives
// up on (match limit), raises Exception; "no match" always means the page does
// not hold the text. Chinese text that goes into a pattern must pass through
// `quotePattern`: a GBK trail byte can be "\", "|", "[", "^" or "{".
//
// Stateless apart from the shared pattern cache: any thread may call these.
#pragma once

#include <string>
#include <vector>

namespace Quorvel {

// The pieces of `text` between occurrences of `delimiter`. When `limit` > 0
// and the pieces reach `limit`, the rest of the text, delimiters included, is
// the last piece. Empty text gives no pieces; a delimiter at the very end
// gives no empty last piece. An empty delimiter gives the whole text.
std::vector<std::string> splitString(const std::string& text, const std::string& delimiter, int limit);

// First match of `pattern` in `subject`. `groups` is cleared and, on a match,
// receives the whole match and then every group (empty for a group that took
// no part). Returns whether there was a match.
bool regexMatch(const std::string& pattern, const std::string& subject, std::vector<std::string>& groups);

// Every non-overlapping match, left to right, each as the whole match and its
// groups. `matches` is cleared first. Returns whether there was any match.
bool regexMatchAll(const std::string& pattern, const std::string& subject,
                   std::vector<std::vector<std::string>>& matches);

// `subject` with every match of `pattern` replaced by `replacement`, which is
// inserted as it stands (no group references are expanded).
std::string regexReplace(const std::string& pattern, const std::string& replacement, const std::string& subject);

// Whether `subject` holds `needle` byte for byte. The needles are plain page
// texts ("标准登录框"); they are never read as patterns, so a GBK byte that
// happens to be a pattern character cannot change the test.
bool containsText(const std::string& needle, const std::string& subject);

// `text` as a pattern that matches exactly that text: both bytes of every GBK
// character become "\xHH", ASCII pattern characters are escaped with "\",
// letters, digits and other ASCII bytes stay as they are.
std::string quotePattern(const std::string& text);

}  // namespace Quorvel
