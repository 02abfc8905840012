// ClockTimer: a one-shot timer of the server thread whose deadline lies on a
// Clock's monotonic time (base/Clock.h), so that a test that steps its clock
// moves the server's time limits and pauses with it, and nothing waits on the
// real time alone. It waits on the I/O context for the time left and looks at
// the clock again when that has passed or when the clock says it was stepped.
//
// Armed, fired and cancelled on the thread that runs the I/O context; the
// context and the clock must outlive the timer.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>

#include "base/Clock.h"

namespace Quorvel {

class ClockTimer {
 public:
  ClockTimer(boost::asio::io_context& io, Clock& clock);
  ~ClockTimer();
  ClockTimer(const ClockTimer&) = delete;
  ClockTimer& operator=(const ClockTimer&) = delete;

  // Calls `due` once, on the I/O context's thread, when `after` has passed
  // on the clock; replaces any call still waiting.
  void callAfter(std::chrono::milliseconds after, std::function<void()> due);
  // Drops the call still waiting, if any.
  void cancel();

 private:
  // Runs the call when its time has come, else waits for the rest.
  void check();

  boost::asio::io_context& io_;
  Clock& clock_;
  boost::asio::steady_timer timer_;
  Clock::Instant dueAt_{};
  std::function<void()> due_;  // empty when nothing waits
  // Shared with the checks posted from the clock's stepping thread: false
  // once the timer is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::shared_ptr<void> stepped_;  // the clock's step subscription; dropped first
};

}  // namespace Quorvel
