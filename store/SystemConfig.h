// SystemConfig: the settings store over table `sys_config`, one process-wide
// instance that keeps every setting in a cache loaded once from the table.
// A flag is on exactly when its value is "1"; numbers are read with C atoi
// rules (empty or non-numeric gives 0); text is used as stored.
//
// Any thread may call any operation: the web UI writes settings while the
// daemon threads read them. The cache is guarded by its own reader-writer
// lock, which is never held across database work; the table is written
// through the connection the caller gives (the first use's load reads the
// building thread's, getDb). set opens no transaction:
// callers that write several settings together wrap setMany in begin/commit.
#pragma once

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "base/Mutex.h"

namespace Quorvel {

class IDb;

class SystemConfig {
 public:
  // The store (processWide), built and loaded from the database on first
  // use (raises what load raises, and then tries again on the next use).
  static std::shared_ptr<SystemConfig> instance();
  static std::shared_ptr<SystemConfig> makeProcessWide();

  virtual ~SystemConfig();

  // Replaces the cache with every row of `sys_config`.
  void load(const std::shared_ptr<IDb>& db);

  // The cached value; empty when the key was never stored.
  std::string get(const std::string& key);
  // "1" means on; anything else (or nothing) off.
  bool flag(const std::string& key);
  // atoi of the value.
  int number(const std::string& key);

  std::unordered_map<std::string, std::string> getAll();

  // Writes the table (delete, then insert: one row per key), then the cache.
  // A failing write raises DbException and leaves the cache as it was.
  void set(const std::shared_ptr<IDb>& db, const std::string& key, const std::string& value);
  // set for each pair, in key order, on `db`.
  void setMany(const std::shared_ptr<IDb>& db, const std::map<std::string, std::string>& values);

 private:
  SystemConfig() = default;

  SharedMutex mutex_;
  std::unordered_map<std::string, std::string> cache_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
