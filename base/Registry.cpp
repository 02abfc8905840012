#include "base/Registry.h"

namespace Quorvel {

Registry& Registry::instance() {
  static Registry* registry = new Registry;  // thread-safe first use
  return *registry;
}

void Registry::put(const std::string& key, Entry entry) {
  GlobalGuard guard;
  entries_[key] = std::move(entry);
}

Registry::Entry Registry::fetch(const std::string& key) {
  GlobalGuard guard;
  return entries_[key];
}

void Registry::remove(const std::string& key) {
  GlobalGuard guard;
  entries_.erase(key);
}

}  // namespace Quorvel
