#include "server/ClockTimer.h"

#include <boost/asio/post.hpp>

namespace Quorvel {

namespace asio = boost::asio;

ClockTimer::ClockTimer(asio::io_context& io, Clock& clock) : io_(io), clock_(clock), timer_(io) {
  // The subscriber only posts: it never calls the clock back.
  stepped_ = clock_.whenStepped([this, alive = alive_] {
    asio::post(io_, [this, alive] {
      if (*alive) check();
    });
  });
}

ClockTimer::~ClockTimer() {
  stepped_.reset();  // waits for a step being told
  *alive_ = false;
  timer_.cancel();
}

void ClockTimer::callAfter(std::chrono::milliseconds after, std::function<void()> due) {
  dueAt_ = clock_.monotonic() + after;
  due_ = std::move(due);
  check();
}

void ClockTimer::cancel() {
  due_ = nullptr;
  timer_.cancel();
}

void ClockTimer::check() {
  if (!due_) return;
  const Clock::Instant now = clock_.monotonic();
  if (now >= dueAt_) {
    timer_.cancel();
    auto due = std::move(due_);
    due_ = nullptr;
    due();
    return;
  }
  timer_.expires_after(dueAt_ - now);
  timer_.async_wait([this](const boost::system::error_code& error) {
    // Aborted: armed anew, cancelled, or the timer is going away.
    if (error == asio::error::operation_aborted) return;
    check();
  });
}

}  // namespace Quorvel
