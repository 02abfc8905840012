// Buyer rating: at most once per configured interval, every sold order the
// seller has not rated yet (first page of the list) gets the rating 1 and the
// configured comment. The daemon's order tick runs it when "comment_enable"
// is "1".
//
// Comment is one process-wide object (processWide) holding the time the next
// run is allowed; only the order worker calls rateBuyers, but a replaced
// worker finishing its tick may overlap with its successor, so the time has
// a lock of its own. The free functions may be called from any thread. Every
// page is fetched with the Env the caller gives (market/HttpClient.h), and
// the interval runs on that Env's clock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "market/HttpClient.h"

namespace Quorvel {

// The trade ids after "订单编号：" on the list of sold orders not rated yet,
// in page order (duplicates kept).
std::vector<std::string> listUnratedTrades(const Env& env);

// Rates one trade: reads its rating form, takes its inputs, sets
// "rates<trade>" to the rating and "rateContents<trade>" to the text, and
// posts them. Silent when the page offers no form or the form no input.
void rateBuyer(const Env& env, const std::string& tradeId, int rating, const std::string& text);

// The trade ids of one list page (see listUnratedTrades).
std::vector<std::string> unratedTradesOn(const std::string& listPage);

// The inputs of the rating form on `page` (the rating page's body); nothing
// when the page offers no form or the form no input.
std::optional<FormFields> readRateForm(const std::string& page);

class Comment {
 public:
  static std::shared_ptr<Comment> instance();

  // False, fetching nothing, while the clock of `env` is before the next
  // allowed time; otherwise rates every listed trade with 1 and `text`, sets
  // the next allowed time to now (after the run) + minutes x 60 and returns
  // true. A failure of the HTTP client escapes and leaves the time as it was.
  bool rateBuyers(const Env& env, const std::string& text, int minutes);

 private:
  Mutex mutex_;
  std::int64_t nextAllowed_ GUARDED_BY(mutex_) = 0;  // seconds since 1970; guarded by mutex_
};

}  // namespace Quorvel
