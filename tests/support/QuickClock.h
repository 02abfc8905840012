// A clock for tests of threads that cycle: the system's time, with every
// pause cut to a millisecond, so that the daemon's workers tick nearly back
// to back. Install it with installProcessWide<Clock>. Any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <stop_token>
#include <thread>

#include "base/Clock.h"

namespace Quorvel::testing {

class QuickClock : public Clock {
 public:
  std::int64_t now() override { return std::time(nullptr); }
  bool sleepFor(std::int64_t, std::stop_token stop) override { return sleepForMillis(1, stop); }
  bool sleepForMillis(std::int64_t, std::stop_token stop) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !stop.stop_requested();
  }
};

}  // namespace Quorvel::testing
