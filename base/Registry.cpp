#include "base/Registry.h"

#include "base/ProcessWide.h"

namespace Quorvel {

std::shared_ptr<Registry> Registry::instance() { return processWide<Registry>(); }

std::shared_ptr<Registry> Registry::makeProcessWide() { return std::shared_ptr<Registry>(new Registry); }

void Registry::put(const std::string& key, Entry entry) {
  MutexLock hold(mutex_);
  entries_[key] = std::move(entry);
}

Registry::Entry Registry::fetch(const std::string& key) {
  MutexLock hold(mutex_);
  return entries_[key];
}

void Registry::remove(const std::string& key) {
  MutexLock hold(mutex_);
  entries_.erase(key);
}

}  // namespace Quorvel
