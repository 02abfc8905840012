// The one process-wide recursive mutex. It guards the creation of the
// process-wide objects, every message-queue operation, the writes of the
// daemon's running flag, its heartbeats and thread handles, and the whole
// login action. It is recursive because code that holds it calls store
// operations that take it again on the same thread. (The per-thread
// connection map and the Registry have locks of their own, so the web
// actions never wait on a login in flight.)
//
// Fields it guards are declared GUARDED_BY(globalLock()) and functions whose
// caller must hold it REQUIRES(globalLock()) (base/ThreadAnnotations.h). The
// check sees a hold within one function only, so taking it again in a
// function called under it is never reported; what it does report is a
// guarded field touched, or a REQUIRES function called, with no GlobalGuard
// in scope. No function is marked EXCLUDES(globalLock()): every one may be
// called with it held.
//
// Any thread may take it; hold it only for short, local work (never across a
// network request unless the owning subsystem says so).
#pragma once

#include "base/Mutex.h"
#include "base/ThreadAnnotations.h"

namespace Quorvel {

RecursiveMutex& globalLock();

// Scoped hold of the global lock.
class SCOPED_CAPABILITY GlobalGuard {
 public:
  GlobalGuard() ACQUIRE(globalLock()) : lock_(globalLock()) { lock_.lock(); }
  ~GlobalGuard() RELEASE() { lock_.unlock(); }
  GlobalGuard(const GlobalGuard&) = delete;
  GlobalGuard& operator=(const GlobalGuard&) = delete;

 private:
  RecursiveMutex& lock_;
};

}  // namespace Quorvel
