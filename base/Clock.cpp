#include "base/Clock.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace Quorvel {

namespace {

// Waits until `duration` has passed or `stop` is requested.
bool pause(std::chrono::milliseconds duration, std::stop_token stop) {
  if (duration <= std::chrono::milliseconds::zero()) return !stop.stop_requested();
  // Nothing ever notifies this variable except the stop request, so the
  // wait ends at the deadline or at the stop, whichever comes first.
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock<std::mutex> hold(mutex);
  wake.wait_for(hold, stop, duration, [] { return false; });
  return !stop.stop_requested();
}

class SystemClock : public Clock {
 public:
  std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }

  bool sleepFor(std::int64_t seconds, std::stop_token stop) override {
    return pause(std::chrono::seconds(seconds), stop);
  }

  bool sleepForMillis(std::int64_t millis, std::stop_token stop) override {
    return pause(std::chrono::milliseconds(millis), stop);
  }
};

}  // namespace

std::shared_ptr<Clock> Clock::makeProcessWide() { return std::make_shared<SystemClock>(); }

}  // namespace Quorvel
