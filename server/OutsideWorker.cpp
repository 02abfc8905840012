#include "server/OutsideWorker.h"

namespace Quorvel {

OutsideWorker::OutsideWorker(std::size_t maxWaiting)
    : maxWaiting_(maxWaiting), thread_([this](std::stop_token stop) { run(stop); }) {}

OutsideWorker::~OutsideWorker() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

bool OutsideWorker::submit(Job job) {
  {
    MutexLock hold(mutex_);
    if (waiting_.size() >= maxWaiting_) return false;
    waiting_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void OutsideWorker::run(std::stop_token stop) {
  for (;;) {
    Job job;
    {
      MutexLock hold(mutex_);
      if (!wake_.wait(mutex_, stop, [this]() REQUIRES(mutex_) { return !waiting_.empty(); })) break;
      job = std::move(waiting_.front());
      waiting_.pop_front();
    }
    job();
  }
}

}  // namespace Quorvel
