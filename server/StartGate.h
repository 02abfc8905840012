// A gate the server thread waits at between listening and answering: the
// program listens as soon as it starts, so that the page's connections are
// taken at once, and opens the gate when its start-up work (the database's
// checks and its first backup, the stores) is done; connections made
// meanwhile wait in the system's queue and are answered then.
//
// open() from any thread (the main thread); wait() from the server thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "base/Mutex.h"

namespace Quorvel {

class StartGate {
 public:
  void open() {
    {
      MutexLock hold(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

  // True once the gate is open; false when `stop` was requested first.
  bool wait(std::stop_token stop) {
    MutexLock hold(mutex_);
    return opened_.wait(mutex_, stop, [this]() REQUIRES(mutex_) { return open_; });
  }

 private:
  Mutex mutex_;
  std::condition_variable_any opened_;
  bool open_ GUARDED_BY(mutex_) = false;  // guarded by mutex_
};

}  // namespace Quorvel
