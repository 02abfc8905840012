// The annotated locks of base/Mutex.h and the global lock: they must still
// exclude, share, wake a waiting condition variable and, for the global
// lock, let the thread that holds it take it again.
#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "base/GlobalLock.h"
#include "base/Mutex.h"

namespace Quorvel {
namespace {

TEST(Mutex, ExcludesAnotherHolderUntilReleased) {
  Mutex mutex;
  mutex.lock();
  bool tookIt = true;
  std::thread([&] {
    tookIt = false;
    if (mutex.try_lock()) {
      tookIt = true;
      mutex.unlock();
    }
  }).join();
  EXPECT_FALSE(tookIt) << "a held Mutex was taken by a second thread";
  mutex.unlock();
  std::thread([&] {
    tookIt = false;
    if (mutex.try_lock()) {
      tookIt = true;
      mutex.unlock();
    }
  }).join();
  EXPECT_TRUE(tookIt) << "a released Mutex stayed held";
}

// A waiter on the Mutex itself sees a flag set under it and is woken.
struct Gate {
  Mutex mutex;
  std::condition_variable_any opened;
  bool open GUARDED_BY(mutex) = false;

  void waitOpen() {
    MutexLock hold(mutex);
    opened.wait(mutex, [this]() REQUIRES(mutex) { return open; });
  }
  void setOpen() {
    {
      MutexLock hold(mutex);
      open = true;
    }
    opened.notify_all();
  }
};

TEST(Mutex, AConditionVariableWaitsOnIt) {
  Gate gate;
  std::thread waiter([&] { gate.waitOpen(); });
  gate.setOpen();
  waiter.join();  // returns only if the waiter was woken with the flag set
  MutexLock hold(gate.mutex);
  EXPECT_TRUE(gate.open);
}

TEST(SharedMutex, ReadersShareAndAWriterWaitsForThem) {
  SharedMutex mutex;
  Mutex stepMutex;
  std::condition_variable_any step;
  int readersIn = 0;  // guarded by stepMutex
  bool release = false;  // guarded by stepMutex
  auto reader = [&] {
    ReaderLock read(mutex);
    MutexLock hold(stepMutex);
    ++readersIn;
    step.notify_all();
    // Both readers are inside at once, or this wait never ends.
    step.wait(stepMutex, [&] { return readersIn == 2 && release; });
  };
  std::thread first(reader), second(reader);
  {
    MutexLock hold(stepMutex);
    step.wait(stepMutex, [&] { return readersIn == 2; });
    release = true;
  }
  step.notify_all();
  first.join();
  second.join();
  WriterLock write(mutex);  // both readers have let go
  SUCCEED();
}

// Whether a thread other than the caller can take the global lock now.
bool anotherThreadTakesTheGlobalLock() {
  bool took = false;
  std::thread([&] {
    if (globalLock().try_lock()) {
      took = true;
      globalLock().unlock();
    }
  }).join();
  return took;
}

// Takes the global lock twice on one thread, which the analysis cannot
// express (the lock is recursive), so it leaves this function alone.
void holdTwiceAndCheckOthersWait() NO_THREAD_SAFETY_ANALYSIS {
  GlobalGuard outer;
  {
    GlobalGuard inner;  // a store operation called under the lock
    EXPECT_FALSE(anotherThreadTakesTheGlobalLock());
  }
  EXPECT_FALSE(anotherThreadTakesTheGlobalLock()) << "the inner hold let go of the outer one";
}

TEST(GlobalLock, TheThreadThatHoldsItTakesItAgainAndOthersWaitForBoth) {
  holdTwiceAndCheckOthersWait();
  EXPECT_TRUE(anotherThreadTakesTheGlobalLock()) << "the lock stayed held after both holds ended";
}

}  // namespace
}  // namespace Quorvel
