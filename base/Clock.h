// Clock: the time and the pauses of the program's threads, behind an
// interface so that tests can move time on by hand instead of waiting. The
// program's clock is processWide<Clock>(): the system clock unless a test
// installs another.
//
// Any thread may call both operations at once. A pause ends early when its
// stop token is asked to stop; that is how an abandoned worker ends.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace Quorvel {

class Clock {
 public:
  virtual ~Clock() = default;

  // The system clock with interruptible pauses.
  static std::shared_ptr<Clock> makeProcessWide();

  // Whole seconds since 1970-01-01 UTC.
  virtual std::int64_t now() = 0;

  // Pauses the calling thread for `seconds` (not at all for 0 or less), or
  // until `stop` is requested. True when the whole pause passed.
  virtual bool sleepFor(std::int64_t seconds, std::stop_token stop) = 0;

  // The same for a pause counted in milliseconds (the short waits of the IM
  // automation).
  virtual bool sleepForMillis(std::int64_t millis, std::stop_token stop) = 0;
};

// `seconds` since 1970 as "YYYYMMDD-HHMMSS" in UTC: the stamp in the names
// of database copies.
std::string utcStamp(std::int64_t seconds);

}  // namespace Quorvel
