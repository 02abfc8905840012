#include "base/ProcessWide.h"

#include <vector>

namespace Quorvel {

namespace {

Mutex resetsMutex;

std::vector<void (*)()>& resets() REQUIRES(resetsMutex) {  // guarded by resetsMutex
  static auto* list = new std::vector<void (*)()>;
  return *list;
}

}  // namespace

namespace processwide_detail {

void enlist(void (*reset)()) {
  MutexLock hold(resetsMutex);
  resets().push_back(reset);
}

}  // namespace processwide_detail

void resetProcessWide() {
  std::vector<void (*)()> all;
  {
    MutexLock hold(resetsMutex);
    all = resets();
  }
  // Objects may hold others; each slot drops its own, and whatever is still
  // held elsewhere goes when its last holder lets go.
  for (auto reset : all) reset();
}

}  // namespace Quorvel
