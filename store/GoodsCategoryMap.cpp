#include "store/GoodsCategoryMap.h"

#include <atomic>
#include <mutex>

#include "store/Db.h"
#include "store/Savepoint.h"
#include "base/ProcessWide.h"

namespace Quorvel {

namespace {

const char kDeleteBinding[] = "delete from `c_g_bind` where `item_id`=?";

}  // namespace

std::shared_ptr<GoodsCategoryMap> GoodsCategoryMap::instance() { return processWide<GoodsCategoryMap>(); }

std::shared_ptr<GoodsCategoryMap> GoodsCategoryMap::makeProcessWide() {
  std::shared_ptr<GoodsCategoryMap> made(new GoodsCategoryMap);
  made->load(getDb());
  return made;
}

GoodsCategoryMap::~GoodsCategoryMap() = default;

void GoodsCategoryMap::load(const std::shared_ptr<IDb>& db) {
  std::map<std::string, int> loaded;
  std::shared_ptr<IDbResult> rows = db->query("select * from `c_g_bind`");
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    loaded[(*row)["item_id"].toString()] = (*row)["cg_id"].toInt();
  }
  WriterLock hold(mutex_);
  cache_.swap(loaded);
}

int GoodsCategoryMap::categoryOf(const std::string& itemId) {
  ReaderLock hold(mutex_);
  auto found = cache_.find(itemId);
  return found == cache_.end() ? 0 : found->second;
}

std::vector<std::string> GoodsCategoryMap::itemsOf(int categoryId) {
  ReaderLock hold(mutex_);
  std::vector<std::string> items;
  for (const auto& [item, category] : cache_) {
    if (category == categoryId) items.push_back(item);
  }
  return items;
}

std::map<std::string, int> GoodsCategoryMap::all() {
  ReaderLock hold(mutex_);
  return cache_;
}

void GoodsCategoryMap::bind(const std::shared_ptr<IDb>& db, const std::string& itemId, int categoryId) {
  // Without the unit, a failing insert would leave the item unbound in the
  // table while the cache still binds it.
  Savepoint unit(db);
  auto sql = std::make_shared<SQL>(kDeleteBinding);
  db->execute(sql->bind(itemId));
  sql->setSql("insert into `c_g_bind` ( `item_id` , `cg_id` ) values( ? , ? )");
  db->execute(sql->bind(itemId)->bind(categoryId));
  unit.release();
  WriterLock hold(mutex_);
  cache_[itemId] = categoryId;
}

void GoodsCategoryMap::unbind(const std::shared_ptr<IDb>& db, const std::string& itemId) {
  db->execute(std::make_shared<SQL>(kDeleteBinding)->bind(itemId));
  WriterLock hold(mutex_);
  cache_.erase(itemId);
}

void GoodsCategoryMap::forgetCategory(int categoryId) {
  WriterLock hold(mutex_);
  std::erase_if(cache_, [categoryId](const auto& binding) { return binding.second == categoryId; });
}

}  // namespace Quorvel
