// Clock: the time and the pauses of the daemon's threads, behind an interface
// so that tests can move time on by hand instead of waiting.
//
// Any thread may call both operations at once. A pause ends early when its
// stop token is asked to stop; that is how an abandoned worker ends.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>

namespace Quorvel {

class Clock {
 public:
  virtual ~Clock() = default;

  // Whole seconds since 1970-01-01 UTC.
  virtual std::int64_t now() = 0;

  // Pauses the calling thread for `seconds` (not at all for 0 or less), or
  // until `stop` is requested. True when the whole pause passed.
  virtual bool sleepFor(std::int64_t seconds, std::stop_token stop) = 0;
};

// The system clock with interruptible sleeps; one shared instance.
std::shared_ptr<Clock> systemClock();

}  // namespace Quorvel
