#include "base/Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
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

  Instant monotonic() override { return std::chrono::steady_clock::now(); }
};

}  // namespace

std::shared_ptr<void> Clock::whenStepped(std::function<void()>) { return nullptr; }

std::shared_ptr<Clock> Clock::system() { return std::make_shared<SystemClock>(); }

std::string utcStamp(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds at{std::chrono::seconds{seconds}};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<std::chrono::seconds> time{at - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02u%02u-%02d%02d%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace Quorvel
