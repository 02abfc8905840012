// Runs the actions that wait on outside parties (the marketplace, the mail
// relay, IM windows) one at a time on a thread of its own, so that the
// server thread keeps answering every other action meanwhile.
//
// Owned by the HTTP server. `submit` is called on the server thread. The
// worker thread owns the job it runs; what a job takes for itself (the web
// actions' database connection, api/ActionDispatch.h) the job lets go before
// it ends. Destruction stops the worker and waits for the
// job in progress (every outside exchange has its own time bound); jobs still
// waiting are dropped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/Mutex.h"

namespace Quorvel {

class OutsideWorker {
 public:
  using Job = std::function<void()>;

  // At most `maxWaiting` jobs wait behind the one in progress.
  explicit OutsideWorker(std::size_t maxWaiting);
  OutsideWorker(const OutsideWorker&) = delete;
  OutsideWorker& operator=(const OutsideWorker&) = delete;
  ~OutsideWorker();

  // Queues `job`; false, queuing nothing, when the queue is full.
  bool submit(Job job);

 private:
  void run(std::stop_token stop);

  const std::size_t maxWaiting_;
  Mutex mutex_;
  std::condition_variable_any wake_;  // notified under mutex_ when a job arrives
  std::deque<Job> waiting_ GUARDED_BY(mutex_);  // guarded by mutex_
  std::jthread thread_;               // started last, joined first
};

}  // namespace Quorvel
