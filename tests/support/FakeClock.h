// A clock for tests whose time moves only when the test says so (or, with
// autoAdvance, by exactly the pauses asked of it), so that code that waits
// minutes runs in microseconds. Put it in the Env of the code under test,
// and its wall time on the test database's rows with
// testing::useDatabaseWallTime. Any thread may use it while the test thread
// advances it.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <stop_token>
#include <vector>

#include "base/Clock.h"

namespace Quorvel::testing {

// Generous bound on waits for the daemon's threads: a wait that gives up
// means the awaited event never came (a failure), not that it came late.
inline constexpr std::chrono::seconds kPatience{20};

class FakeClock : public Clock {
 public:
  // With autoAdvance, a sleep moves time on by its length and returns at
  // once (for cycles run on the test thread); without, a sleep waits until
  // the test advances time far enough, or until its stop is requested.
  explicit FakeClock(std::int64_t start, bool autoAdvance = false) : now_(start), autoAdvance_(autoAdvance) {}

  std::int64_t now() override {
    std::lock_guard<std::mutex> hold(mutex_);
    return now_;
  }

  // Millisecond pauses are recorded and pass at once: they move the
  // monotonic time on by their length (so deadlines counted in them come),
  // never the clock's whole seconds.
  bool sleepForMillis(std::int64_t millis, std::stop_token stop) override {
    std::lock_guard<std::mutex> hold(mutex_);
    millisPauses_.push_back(millis);
    monotonic_ += std::chrono::milliseconds(std::max<std::int64_t>(millis, 0));
    return !stop.stop_requested();
  }

  std::vector<std::int64_t> millisPauses() {
    std::lock_guard<std::mutex> hold(mutex_);
    return millisPauses_;
  }

  bool sleepFor(std::int64_t seconds, std::stop_token stop) override {
    std::unique_lock<std::mutex> hold(mutex_);
    pauses_.push_back(seconds);
    if (autoAdvance_) {
      now_ += std::max<std::int64_t>(seconds, 0);
      monotonic_ += std::chrono::seconds(std::max<std::int64_t>(seconds, 0));
      return true;
    }
    const std::int64_t started = now_;
    sleepers_.push_back(started);
    changed_.notify_all();
    const bool whole = changed_.wait(hold, stop, [&] { return now_ >= started + seconds; });
    sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), started));
    changed_.notify_all();
    return whole;
  }

  // Moves both times on by `seconds`.
  void advance(std::int64_t seconds) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      now_ += seconds;
      monotonic_ += std::chrono::seconds(seconds);
      changed_.notify_all();
    }
    tellStepped();
  }

  // Moves the monotonic time on by `by`, and the wall time by the whole
  // seconds the steps add up to. Once it returns, every subscriber of
  // whenStepped has been told.
  void step(std::chrono::milliseconds by) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      monotonic_ += by;
      stepMillis_ += by.count();
      now_ += stepMillis_ / 1000;
      stepMillis_ %= 1000;
      changed_.notify_all();
    }
    tellStepped();
  }

  Instant monotonic() override {
    std::lock_guard<std::mutex> hold(mutex_);
    return monotonic_;
  }

  std::shared_ptr<void> whenStepped(std::function<void()> stepped) override {
    std::lock_guard<std::mutex> hold(listenersMutex_);
    auto entry = listeners_.insert(listeners_.end(), std::move(stepped));
    return std::shared_ptr<void>(nullptr, [this, entry](void*) {
      std::lock_guard<std::mutex> hold(listenersMutex_);
      listeners_.erase(entry);
    });
  }

  // Sets the time without waking anyone (the clock set back or forward).
  void set(std::int64_t now) {
    std::lock_guard<std::mutex> hold(mutex_);
    now_ = now;
  }

  // Waits until exactly `count` of the sleeps in progress began at `since`
  // or later; false when that never happens.
  bool waitSleepers(int count, std::int64_t since) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, kPatience, [&] {
      return std::count_if(sleepers_.begin(), sleepers_.end(), [&](std::int64_t start) { return start >= since; }) ==
             count;
    });
  }

  // Every pause asked for, in order.
  std::vector<std::int64_t> pauses() {
    std::lock_guard<std::mutex> hold(mutex_);
    return pauses_;
  }

 private:
  void tellStepped() {
    std::lock_guard<std::mutex> hold(listenersMutex_);
    for (auto& stepped : listeners_) stepped();
  }

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::int64_t now_;                    // guarded by mutex_
  const bool autoAdvance_;
  std::vector<std::int64_t> sleepers_;  // start times of the sleeps in progress; guarded by mutex_
  std::vector<std::int64_t> pauses_;    // guarded by mutex_
  std::vector<std::int64_t> millisPauses_;  // guarded by mutex_
  // Starts at an arbitrary point, far from the real clock's.
  Instant monotonic_{std::chrono::hours(1000)};  // guarded by mutex_
  std::int64_t stepMillis_ = 0;                 // milliseconds stepped short of a second; guarded by mutex_
  // Held while subscribers are told, so that dropping a subscription waits
  // for a call in progress.
  std::mutex listenersMutex_;
  std::list<std::function<void()>> listeners_;  // guarded by listenersMutex_
};

}  // namespace Quorvel::testing
