// A clock for tests of threads that cycle: the system's time, with every
// pause cut to a millisecond, so that the daemon's workers tick nearly back
// to back. Put it in the Env of the code under test. Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <stop_token>

#include "base/Clock.h"

namespace Quorvel::testing {

class QuickClock : public Clock {
 public:
  std::int64_t now() override { return std::time(nullptr); }
  bool sleepFor(std::int64_t, std::stop_token stop) override { return sleepForMillis(1, stop); }
  bool sleepForMillis(std::int64_t, std::stop_token stop) override {
    // Nothing notifies: the wait ends after the millisecond or at the stop.
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock<std::mutex> hold(mutex);
    never.wait_for(hold, stop, std::chrono::milliseconds(1), [] { return false; });
    return !stop.stop_requested();
  }
  Instant monotonic() override { return std::chrono::steady_clock::now(); }
};

}  // namespace Quorvel::testing
