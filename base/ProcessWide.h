// The one way the program holds a process-wide object: the record stores, the
// settings, the registry, the daemon, the backups, the safe mode, the launch
// key and the like: the program's own state. Parties outside the process (the
// clock and its pauses, the network) and the options of each layer travel in
// an Env (base/Env.h) instead.
//
// Callers spell it T::instance(); only those instance() definitions (and
// tests installing a fake) name the template itself:
//
//   processWide<T>()              the object, built on first use and kept
//   installProcessWide<T>(object) replaces it (the program's start-up wiring,
//                                 a test's fake); holders of the old object
//                                 keep it until they let go
//   resetProcessWide()            tests: drops every object, so each is built
//                                 afresh on its next use (stores reload from
//                                 the database then in use)
//
// A type that needs more than `std::make_shared<T>()` to be built declares
//
//   static std::shared_ptr<T> makeProcessWide();
//
// and an interface names its production implementation there. Building runs
// under the global lock, so that two threads never build the same object and
// a store whose load takes the global lock again (the message queue) always
// takes the locks in one order; a build that raises leaves nothing behind and
// the next use tries again. Reads take only the slot's own short lock. The
// program builds the stores the web actions read at start, so that none is
// first built while a login holds the global lock.
//
// Every function may be called from any thread.
#pragma once

#include <concepts>
#include <memory>
#include "base/GlobalLock.h"
#include "base/Mutex.h"

namespace Quorvel {

namespace processwide_detail {

// Adds `reset` to the functions resetProcessWide runs.
void enlist(void (*reset)());

template <class T>
struct Slot {
  Mutex mutex;
  std::shared_ptr<T> object GUARDED_BY(mutex);  // guarded by mutex
};

template <class T>
Slot<T>& slotOf() {
  // Never destroyed: threads still running while the process ends may use it.
  static Slot<T>* slot = [] {
    auto* made = new Slot<T>;
    enlist([] {
      std::shared_ptr<T> dropped;  // released outside the slot's lock
      MutexLock hold(slotOf<T>().mutex);
      dropped.swap(slotOf<T>().object);
    });
    return made;
  }();
  return *slot;
}

template <class T>
std::shared_ptr<T> build() {
  if constexpr (requires { { T::makeProcessWide() } -> std::convertible_to<std::shared_ptr<T>>; }) {
    return T::makeProcessWide();
  } else {
    return std::make_shared<T>();
  }
}

}  // namespace processwide_detail

template <class T>
std::shared_ptr<T> processWide() {
  auto& slot = processwide_detail::slotOf<T>();
  {
    MutexLock hold(slot.mutex);
    if (slot.object) return slot.object;
  }
  GlobalGuard building;
  {
    MutexLock hold(slot.mutex);
    if (slot.object) return slot.object;
  }
  std::shared_ptr<T> made = processwide_detail::build<T>();
  MutexLock hold(slot.mutex);
  if (!slot.object) slot.object = std::move(made);
  return slot.object;
}

template <class T>
void installProcessWide(std::shared_ptr<T> object) {
  auto& slot = processwide_detail::slotOf<T>();
  MutexLock hold(slot.mutex);
  slot.object.swap(object);
  // The replaced object (now in `object`) is released after the lock.
}

// Drops every process-wide object. For tests, between cases, while no other
// thread of the program runs.
void resetProcessWide();

}  // namespace Quorvel
