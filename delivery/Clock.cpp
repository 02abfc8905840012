#include "delivery/Clock.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace Quorvel {

namespace {

class SystemClock : public Clock {
 public:
  std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }

  bool sleepFor(std::int64_t seconds, std::stop_token stop) override {
    if (seconds <= 0) return !stop.stop_requested();
    // Nothing ever notifies this variable except the stop request, so the
    // wait ends at the deadline or at the stop, whichever comes first.
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock<std::mutex> hold(mutex);
    wake.wait_for(hold, stop, std::chrono::seconds(seconds), [] { return false; });
    return !stop.stop_requested();
  }
};

}  // namespace

std::shared_ptr<Clock> systemClock() {
  // Never destroyed: the daemon's threads may still use it while the process ends.
  static const auto* clock = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return *clock;
}

}  // namespace Quorvel
