// Env: what the program's parts reach outside themselves, handed to them when
// they are built instead of found in globals: the clock (with its monotonic
// time, for every deadline), and typed entries for the network and the
// options of each layer (DatabaseOptions, MailerOptions, HttpOptions,
// HttpServerLimits...).
//
// The ground floor cannot name the types of the layers above it, so an entry
// is kept by its type alone: a layer puts its own options in with set<T>()
// and reads them back with get<T>(). An entry nobody set is built on first
// use the way processWide builds its objects (T::makeProcessWide() when the
// type declares it, else T's defaults) and kept, so every reader of one Env
// sees the same object.
//
//   Env env(std::make_shared<MyClock>());      // a test's own
//   env.set<MailerOptions>(std::make_shared<MailerOptions>(options));
//   Mailer mailer(env, ...);
//
// app/main.cpp builds the program's Env; a test builds its own. Copies of an
// Env share its clock and its entries. Entries are set while the Env is
// being put together, before the parts built with it run; after that any
// thread may read it.
#pragma once

#include <memory>
#include <typeindex>
#include <unordered_map>

#include "base/Clock.h"
#include "base/Mutex.h"
#include "base/ProcessWide.h"

namespace Quorvel {

class Env {
 public:
  // The system clock, and every entry at its default.
  Env();
  explicit Env(std::shared_ptr<Clock> clock);

  Clock& clock() const { return *clock_; }
  const std::shared_ptr<Clock>& sharedClock() const { return clock_; }

  // The entry of type T, built at its default when none was set.
  template <class T>
  std::shared_ptr<T> get() const {
    MutexLock hold(entries_->mutex);
    auto& slot = entries_->byType[std::type_index(typeid(T))];
    if (!slot) slot = processwide_detail::build<T>();
    return std::static_pointer_cast<T>(slot);
  }

  // Puts `entry` in as the one of type T (replacing any).
  template <class T>
  Env& set(std::shared_ptr<T> entry) {
    MutexLock hold(entries_->mutex);
    entries_->byType[std::type_index(typeid(T))] = std::move(entry);
    return *this;
  }

 private:
  struct Entries {
    Mutex mutex;
    std::unordered_map<std::type_index, std::shared_ptr<void>> byType GUARDED_BY(mutex);  // guarded by mutex
  };

  std::shared_ptr<Clock> clock_;
  std::shared_ptr<Entries> entries_ = std::make_shared<Entries>();
};

}  // namespace Quorvel
