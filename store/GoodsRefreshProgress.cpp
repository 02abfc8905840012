#include "store/GoodsRefreshProgress.h"

#include "base/ProcessWide.h"

namespace Quorvel {

std::shared_ptr<GoodsRefreshProgress> GoodsRefreshProgress::instance() {
  return processWide<GoodsRefreshProgress>();
}

void GoodsRefreshProgress::started() {
  MutexLock hold(mutex_);
  state_.running = true;
  state_.pages = 0;
  state_.items = 0;
  state_.message.clear();
}

void GoodsRefreshProgress::pageRead(int items) {
  MutexLock hold(mutex_);
  ++state_.pages;
  state_.items += items;
}

void GoodsRefreshProgress::ended(std::int64_t time, const std::string& failure) {
  MutexLock hold(mutex_);
  state_.running = false;
  state_.finished = time;
  state_.message = failure;
}

GoodsRefreshProgress::State GoodsRefreshProgress::state() {
  MutexLock hold(mutex_);
  return state_;
}

}  // namespace Quorvel
