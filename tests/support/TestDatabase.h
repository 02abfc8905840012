// For tests of the database's users: puts the process-wide pool of
// connections (store/ThreadConnections.h) on an Env of the test's own, with
// its database options and its clock, so that every connection opened from
// then on (getDb, the stores' own) works on the test's file and time.
// Connections already open keep the Env they were opened in. Call from the
// test thread while no other thread of the code under test runs.
#pragma once

#include <functional>
#include <memory>

#include "base/Env.h"
#include "store/DatabaseFile.h"
#include "store/ThreadConnections.h"

namespace Quorvel::testing {

// A new pool on an Env holding `clock` and `options`; its Env.
inline Env installDatabase(std::shared_ptr<Clock> clock, std::shared_ptr<DatabaseOptions> options) {
  Env env(std::move(clock));
  env.set(std::move(options));
  installProcessWide(std::make_shared<ThreadConnections>(env));
  return env;
}

// A new pool on the current pool's options and `clock`: the stores stamp
// and the connections wait on `clock` from now on.
inline Env useDatabaseClock(std::shared_ptr<Clock> clock) {
  const Env& current = ThreadConnections::instance()->env();
  return installDatabase(std::move(clock), std::make_shared<DatabaseOptions>(*current.get<DatabaseOptions>()));
}

// The wall time of a test's clock (one it moves by hand) with the system's
// monotonic time and real pauses: for a database whose rows carry the test's
// time while a connection that meets another's lock still waits for it, as
// in the program (a hand-moved clock would end that wait at once).
class WallTimeOf : public Clock {
 public:
  explicit WallTimeOf(std::shared_ptr<Clock> wall) : wall_(std::move(wall)) {}
  std::int64_t now() override { return wall_->now(); }
  bool sleepFor(std::int64_t seconds, std::stop_token stop) override { return real_->sleepFor(seconds, stop); }
  bool sleepForMillis(std::int64_t millis, std::stop_token stop) override {
    return real_->sleepForMillis(millis, stop);
  }
  Instant monotonic() override { return real_->monotonic(); }

 private:
  const std::shared_ptr<Clock> wall_;
  const std::shared_ptr<Clock> real_ = Clock::system();
};

// The same pool with the wall time of `wall` on rows and files.
inline Env useDatabaseWallTime(std::shared_ptr<Clock> wall) {
  return useDatabaseClock(std::make_shared<WallTimeOf>(std::move(wall)));
}

// Sets a copy of the current pool's options with `change` applied in the
// pool's Env: connections opened from now on read it.
inline void changeDatabaseOptions(const std::function<void(DatabaseOptions&)>& change) {
  Env env = ThreadConnections::instance()->env();  // shares the pool's entries
  auto options = std::make_shared<DatabaseOptions>(*env.get<DatabaseOptions>());
  change(*options);
  env.set(std::move(options));
}

}  // namespace Quorvel::testing
