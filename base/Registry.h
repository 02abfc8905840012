// Process-wide map from a text key to a shared, type-erased value. Keys in use:
// "account" (std::string, the seller's marketplace account), "checkLastTime"
// and "sendMsgTime" (std::int64_t, seconds since 1970).
//
// Thread-safe: every operation takes the registry's own lock, which is held
// for nothing but the map access, so callers may use it from any thread and
// while holding any other lock.
#pragma once

#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "base/Mutex.h"

namespace Quorvel {

class Registry {
 public:
  // The program's registry (processWide<Registry>()).
  static std::shared_ptr<Registry> instance();
  static std::shared_ptr<Registry> makeProcessWide();

  // Replaces the entry with a newly allocated copy of `value`.
  template <class T>
  void set(const std::string& key, T value) {
    put(key, Entry{std::make_shared<T>(std::move(value)), std::type_index(typeid(T))});
  }

  // The value under `key`, or an empty pointer when the key has no value or
  // holds a value of another type. A get of an unknown key creates an empty entry.
  template <class T>
  std::shared_ptr<T> get(const std::string& key) {
    Entry entry = fetch(key);
    if (!entry.value || entry.type != std::type_index(typeid(T))) return nullptr;
    return std::static_pointer_cast<T>(entry.value);
  }

  // The value under `key`, or `fallback` when there is none.
  template <class T>
  T getOr(const std::string& key, T fallback) {
    auto value = get<T>(key);
    return value ? *value : fallback;
  }

  void remove(const std::string& key);

 private:
  struct Entry {
    std::shared_ptr<void> value;
    std::type_index type = std::type_index(typeid(void));
  };

  Registry() = default;
  void put(const std::string& key, Entry entry);
  Entry fetch(const std::string& key);

  Mutex mutex_;
  std::unordered_map<std::string, Entry> entries_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
