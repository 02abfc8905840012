// eventually: the one place where a test looks again and again for a
// condition that nothing announces, because it comes about in another
// process or in the kernel and the code under test has no event to tell it
// (a file a detached browser child writes, a simulator holding an answer,
// memory handed back to the system, a window or bus object appearing). Where
// a notification exists, tests wait for it instead (a condition variable, a
// pipe, waitpid, a fake clock's step). Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace Quorvel::testing {

// Whether `holds` becomes true within `patience`, looked at every `every`.
inline bool eventually(const std::function<bool()>& holds, std::chrono::milliseconds every = std::chrono::milliseconds(10),
                       std::chrono::milliseconds patience = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  // Nothing notifies this variable: each wait ends after `every`.
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock<std::mutex> hold(mutex);
  for (;;) {
    if (holds()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    never.wait_for(hold, every, [] { return false; });
  }
}

}  // namespace Quorvel::testing
