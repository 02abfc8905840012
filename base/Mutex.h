// Mutex: the program's locks, std::mutex and std::shared_mutex with the
// annotations of base/ThreadAnnotations.h, so that clang's thread-safety
// check knows which fields each guards (libstdc++'s own carry none).
//
//   Mutex        exclusive; `MutexLock` holds it for a scope
//   SharedMutex  reader-writer; `WriterLock` / `ReaderLock` hold it
//   RecursiveMutex  the global lock's type (base/GlobalLock.h)
//
// A condition variable waits on the lock itself: std::condition_variable_any
// takes any type with lock() and unlock(), so `wake.wait(mutex_)` inside a
// MutexLock's scope, with the predicate a lambda marked REQUIRES(mutex_)
// (the check reads a lambda's body as a function of its own).
//
// Any thread may use them; each object is shared by the threads it
// serialises.
#pragma once

#include <mutex>
#include <shared_mutex>

#include "base/ThreadAnnotations.h"

namespace Quorvel {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Held from construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

class CAPABILITY("shared_mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  void lock_shared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void unlock_shared() RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

// Holds a SharedMutex exclusively for its scope.
class SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex.lock(); }
  ~WriterLock() RELEASE() { mutex_.unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex& mutex_;
};

// Holds a SharedMutex shared for its scope.
class SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) { mutex.lock_shared(); }
  ~ReaderLock() RELEASE() { mutex_.unlock_shared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex& mutex_;
};

// A mutex the thread that holds it may take again. The check has no notion
// of taking a lock twice, so it is annotated as a plain capability: a scope
// that holds it may touch what it guards, and a function that takes it is
// not marked EXCLUDES, so that calling one under the lock (what recursion is
// for) is not reported. Only base/GlobalLock uses it.
class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace Quorvel
