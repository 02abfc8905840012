#include "store/SystemConfig.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "base/ProcessWide.h"
#include "store/Db.h"

namespace Quorvel {

std::shared_ptr<SystemConfig> SystemConfig::instance() { return processWide<SystemConfig>(); }

std::shared_ptr<SystemConfig> SystemConfig::makeProcessWide() {
  std::shared_ptr<SystemConfig> made(new SystemConfig);
  made->load(getDb());
  return made;
}

SystemConfig::~SystemConfig() = default;

void SystemConfig::load(const std::shared_ptr<IDb>& db) {
  std::unordered_map<std::string, std::string> loaded;
  std::shared_ptr<IDbResult> rows = db->query("select * from `sys_config`;");
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    loaded[(*row)["key"].toString()] = (*row)["value"].toString();
  }
  WriterLock hold(mutex_);
  cache_.swap(loaded);
}

std::string SystemConfig::get(const std::string& key) {
  ReaderLock hold(mutex_);
  auto found = cache_.find(key);
  return found == cache_.end() ? std::string() : found->second;
}

bool SystemConfig::flag(const std::string& key) { return get(key) == "1"; }

int SystemConfig::number(const std::string& key) { return std::atoi(get(key).c_str()); }

std::unordered_map<std::string, std::string> SystemConfig::getAll() {
  ReaderLock hold(mutex_);
  return cache_;
}

void SystemConfig::set(const std::shared_ptr<IDb>& db, const std::string& key, const std::string& value) {
  auto sql = std::make_shared<SQL>("delete from `sys_config` where `key`=?");
  db->execute(sql->bind(key));
  sql->setSql("insert into `sys_config` ( `key` , `value` ) values ( ? , ? )");
  db->execute(sql->bind(key)->bind(value));

  WriterLock hold(mutex_);
  cache_[key] = value;
}

void SystemConfig::setMany(const std::shared_ptr<IDb>& db, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) set(db, key, value);
}

}  // namespace Quorvel
