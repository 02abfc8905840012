// Test doubles for the daemon: a clock whose time moves only when the test
// says so, and order and dispatch steps that count, fail or hang on demand.
// Every double may be used from the daemon's threads and the test thread at once.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/MessageDispatch.h"
#include "delivery/OrderPipeline.h"

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

  bool sleepFor(std::int64_t seconds, std::stop_token stop) override {
    std::unique_lock<std::mutex> hold(mutex_);
    pauses_.push_back(seconds);
    if (autoAdvance_) {
      now_ += std::max<std::int64_t>(seconds, 0);
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

  void advance(std::int64_t seconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    now_ += seconds;
    changed_.notify_all();
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
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::int64_t now_;                    // guarded by mutex_
  const bool autoAdvance_;
  std::vector<std::int64_t> sleepers_;  // start times of the sleeps in progress; guarded by mutex_
  std::vector<std::int64_t> pauses_;    // guarded by mutex_
};

// Holds the threads that pass through it while it is closed.
class Gate {
 public:
  void close() {
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = true;
  }
  void open() {
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = false;
    changed_.notify_all();
  }
  void pass() {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!closed_) return;
    ++waiting_;
    changed_.notify_all();
    changed_.wait(hold, [&] { return !closed_; });
    --waiting_;
  }
  // Waits until `count` threads are held at once.
  bool waitHeld(int count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, kPatience, [&] { return waiting_ == count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;  // guarded by mutex_
  int waiting_ = 0;      // guarded by mutex_
};

// Counts each step; a step can be made to raise (`failAt`), and
// fetchPaidOrders waits at `fetchGate` while it is closed.
class FakePipeline : public OrderPipeline {
 public:
  void fetchPaidOrders(const std::shared_ptr<IDb>&) override { step("fetch"); }
  void parseNewOrders(const std::shared_ptr<IDb>&) override { step("parse"); }
  void deliverOrders(const std::shared_ptr<IDb>&) override { step("deliver"); }
  void rateBuyers(const std::string& text, int minutes) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ratingText = text;
      ratingMinutes = minutes;
    }
    step("rate");
  }

  // The steps run so far, in order.
  std::vector<std::string> steps() {
    std::lock_guard<std::mutex> hold(mutex_);
    return steps_;
  }
  int count(const std::string& name) {
    auto all = steps();
    return static_cast<int>(std::count(all.begin(), all.end(), name));
  }

  Gate fetchGate;

  // Runs before the named step's bookkeeping ends; may raise.
  std::function<void(const std::string& step)> failAt;
  std::string ratingText;  // guarded by mutex_
  int ratingMinutes = -1;  // guarded by mutex_

 private:
  void step(const std::string& name) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      steps_.push_back(name);
    }
    if (name == "fetch") fetchGate.pass();
    if (failAt) failAt(name);
  }

  std::mutex mutex_;
  std::vector<std::string> steps_;  // guarded by mutex_
};

// Counts the passes; a pass waits at `gate` while it is closed, then runs
// `failure` (which may raise).
class FakeDispatch : public MessageDispatch {
 public:
  void sendMessages() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ++passes_;
    }
    gate.pass();
    if (failure) failure();
  }
  int passes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return passes_;
  }

  Gate gate;
  std::function<void()> failure;  // set before the daemon runs

 private:
  std::mutex mutex_;
  int passes_ = 0;  // guarded by mutex_
};

}  // namespace Quorvel::testing
