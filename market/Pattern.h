// A compiled page pattern. Page patterns are Perl-style regular expressions
// run on PCRE2, byte-wise (no UTF mode: GBK pages are matched as bytes), with
// "." matching line breaks, JIT-compiled where the platform allows, and with a
// match limit: a search that hits the limit or any other engine error raises
// Exception instead of reporting "no match".
//
// Compiled patterns are immutable; any thread may search with one at the same
// time. `Pattern::cached` keeps a bounded process-wide cache (thread-safe).
// The page helpers of PageText.h are the usual way in; scrapers rarely need
// this class directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Quorvel {

// Begin and end offsets of the whole match and of each group, in group order;
// a group that took no part holds {npos, npos}.
using MatchSpans = std::vector<std::pair<size_t, size_t>>;

class Pattern {
 public:
  // Compiles `pattern`; raises Exception with the engine's message on a
  // syntax error.
  explicit Pattern(const std::string& pattern);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // The compiled form of `pattern`, compiled once and then kept (the cache is
  // bounded: it starts afresh when it holds too many patterns).
  static std::shared_ptr<const Pattern> cached(const std::string& pattern);

  // Searches `subject` from byte offset `start`. With `nonEmptyHere` only a
  // non-empty match that begins exactly at `start` counts (the step after an
  // empty match). Fills `spans` and returns true on a match; returns false
  // when there is none; raises Exception on an engine error.
  bool find(std::string_view subject, size_t start, bool nonEmptyHere, MatchSpans& spans) const;

  // Engine steps one search may take before it is an error. The default is
  // enough for the greedy form patterns on a page of the client's size cap
  // (about one step per byte) and far less than a runaway backtrack takes;
  // tests lower it by installing other PatternLimits.
  static constexpr uint32_t kDefaultMatchLimit = 20'000'000;

 private:
  struct Code;
  std::unique_ptr<Code> code_;
  size_t groups_ = 0;  // capture groups of the pattern
};

// The limits every search runs under: processWide<PatternLimits>().
struct PatternLimits {
  uint32_t matchLimit = Pattern::kDefaultMatchLimit;
};

// Calls `onMatch(spans)` for every non-overlapping match from left to right.
// After an empty match the search goes on one byte further unless a non-empty
// match starts at the same place (Perl's rule).
template <class OnMatch>
void forEachMatch(const Pattern& pattern, std::string_view subject, OnMatch onMatch) {
  MatchSpans spans;
  size_t start = 0;
  bool afterEmpty = false;
  while (start <= subject.size()) {
    if (!pattern.find(subject, start, afterEmpty, spans)) {
      if (!afterEmpty) return;
      afterEmpty = false;
      ++start;
      continue;
    }
    onMatch(spans);
    afterEmpty = spans[0].first == spans[0].second;
    start = spans[0].second;
  }
}

}  // namespace Quorvel
