// A gate a test closes to hold the threads that reach it (an outside action,
// a delivery step, a page being read) and opens to let them on; the test
// waits until the threads it expects are held. Any thread may pass through
// it while the test thread closes, opens or waits on it.
#pragma once

#include <condition_variable>
#include <mutex>

#include "tests/support/FakeClock.h"

namespace Quorvel::testing {

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

}  // namespace Quorvel::testing
