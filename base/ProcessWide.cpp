#include "base/ProcessWide.h"

#include <vector>

namespace Quorvel {

namespace {

std::mutex resetsMutex;

std::vector<void (*)()>& resets() {  // guarded by resetsMutex
  static auto* list = new std::vector<void (*)()>;
  return *list;
}

}  // namespace

namespace processwide_detail {

void enlist(void (*reset)()) {
  std::lock_guard<std::mutex> hold(resetsMutex);
  resets().push_back(reset);
}

}  // namespace processwide_detail

void resetProcessWide() {
  std::vector<void (*)()> all;
  {
    std::lock_guard<std::mutex> hold(resetsMutex);
    all = resets();
  }
  // Objects may hold others; each slot drops its own, and whatever is still
  // held elsewhere goes when its last holder lets go.
  for (auto reset : all) reset();
}

}  // namespace Quorvel
