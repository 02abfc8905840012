// The creation of a process-wide record store: made and loaded once, on the
// first call from whichever thread comes first, and kept until the process
// ends. Creation runs under the global lock (store loading takes it again
// through getDb, so the order of the two locks is always the same); later
// calls read the published pointer without a lock.
//
// A creation that raises leaves nothing behind, so the next call tries again.
#pragma once

#include <atomic>
#include <memory>

#include "base/GlobalLock.h"

namespace Quorvel {

// `slot` is the store's own static pointer; `make` builds and loads the store.
template <class Store, class Make>
std::shared_ptr<Store> storeInstance(std::atomic<std::shared_ptr<Store>*>& slot, Make make) {
  if (std::shared_ptr<Store>* made = slot.load(std::memory_order_acquire)) return *made;
  GlobalGuard hold;
  if (std::shared_ptr<Store>* made = slot.load(std::memory_order_relaxed)) return *made;
  auto* made = new std::shared_ptr<Store>(make());  // lives until the process ends
  slot.store(made, std::memory_order_release);
  return *made;
}

}  // namespace Quorvel
