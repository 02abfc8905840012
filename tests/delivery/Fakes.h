// Test doubles for the daemon: order and dispatch steps that count, fail or
// hang on demand (the clock is tests/support/FakeClock.h).
// Every double may be used from the daemon's threads and the test thread at once.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "delivery/MessageDispatch.h"
#include "delivery/OrderPipeline.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Gate.h"

namespace Quorvel::testing {

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
  void sendMessages(std::stop_token) override {
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
