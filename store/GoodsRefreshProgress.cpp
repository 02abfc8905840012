#include "store/GoodsRefreshProgress.h"

#include "base/ProcessWide.h"

namespace Quorvel {

std::shared_ptr<GoodsRefreshProgress> GoodsRefreshProgress::instance() {
  return processWide<GoodsRefreshProgress>();
}

void GoodsRefreshProgress::started() {
  std::lock_guard<std::mutex> hold(mutex_);
  state_.running = true;
  state_.pages = 0;
  state_.items = 0;
  state_.message.clear();
}

void GoodsRefreshProgress::pageRead(int items) {
  std::lock_guard<std::mutex> hold(mutex_);
  ++state_.pages;
  state_.items += items;
}

void GoodsRefreshProgress::ended(std::int64_t time, const std::string& failure) {
  std::lock_guard<std::mutex> hold(mutex_);
  state_.running = false;
  state_.finished = time;
  state_.message = failure;
}

GoodsRefreshProgress::State GoodsRefreshProgress::state() {
  std::lock_guard<std::mutex> hold(mutex_);
  return state_;
}

}  // namespace Quorvel
