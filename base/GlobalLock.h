// The one process-wide recursive mutex. It guards the creation of the
// process-wide objects, every message-queue operation, the writes of the
// daemon's running flag, its heartbeats and thread handles, and the whole
// login action. It is recursive because code that holds it calls store
// operations that take it again on the same thread. (The per-thread
// connection map and the Registry have locks of their own, so the web
// actions never wait on a login in flight.)
//
// Any thread may take it; hold it only for short, local work (never across a
// network request unless the owning subsystem says so).
#pragma once

#include <mutex>

namespace Quorvel {

std::recursive_mutex& globalLock();

// Scoped hold of the global lock.
class GlobalGuard {
 public:
  GlobalGuard() : lock_(globalLock()) {}
  GlobalGuard(const GlobalGuard&) = delete;
  GlobalGuard& operator=(const GlobalGuard&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};

}  // namespace Quorvel
