// Clock: the time and the pauses of the program's threads, behind an
// interface so that tests can move time on by hand instead of waiting. It
// has two faces: the wall time (seconds since 1970, which the seller may set
// back or forward) and a monotonic time that only ever moves on, for every
// deadline and time limit. The program's clock travels in its Env
// (base/Env.h): the stores stamp their rows with the clock of the Env their
// connection was opened in.
//
// Any thread may call every operation at once. A pause ends early when its
// stop token is asked to stop; that is how an abandoned worker ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace Quorvel {

class Clock {
 public:
  // A point on the monotonic time line.
  using Instant = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;

  // A new system clock with interruptible pauses.
  static std::shared_ptr<Clock> system();

  // Whole seconds since 1970-01-01 UTC.
  virtual std::int64_t now() = 0;

  // Pauses the calling thread for `seconds` (not at all for 0 or less), or
  // until `stop` is requested. True when the whole pause passed.
  virtual bool sleepFor(std::int64_t seconds, std::stop_token stop) = 0;

  // The same for a pause counted in milliseconds (the short waits of the IM
  // automation).
  virtual bool sleepForMillis(std::int64_t millis, std::stop_token stop) = 0;

  // The monotonic time: never goes back, whatever the wall clock does.
  virtual Instant monotonic() = 0;

  // Code that waits on something other than this clock (an I/O context's
  // timer) for a deadline on it subscribes here: `stepped` is called, on the
  // thread that moves the time, whenever the time jumps on by hand (a test's
  // clock); the system clock never jumps and never calls it. Dropping the
  // returned subscription ends the calls, waiting for one in progress; a
  // subscriber may not call the clock from `stepped`.
  virtual std::shared_ptr<void> whenStepped(std::function<void()> stepped);
};

// `seconds` since 1970 as "YYYYMMDD-HHMMSS" in UTC: the stamp in the names
// of database copies.
std::string utcStamp(std::int64_t seconds);

}  // namespace Quorvel
