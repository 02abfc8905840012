// GoodsCategoryMap: which category delivers the cards for which marketplace
// item, table `c_g_bind`, kept whole in a cache loaded on first use. An item
// is bound to at most one category; binding it again moves it.
//
// Any thread may call any operation: the web UI binds while the order
// pipeline looks bindings up. The cache is guarded by the store's own
// reader-writer lock, never held across database work; the table is written
// first, through the connection it is given, and failures (DbException)
// reach the caller with the cache unchanged. The first use's load reads the
// building thread's connection (getDb), later loads the one they are given.
#pragma once

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/Mutex.h"

namespace Quorvel {

class IDb;

class GoodsCategoryMap : public std::enable_shared_from_this<GoodsCategoryMap> {
 public:
  // The store (processWide), built and loaded from the database on first use.
  static std::shared_ptr<GoodsCategoryMap> instance();
  static std::shared_ptr<GoodsCategoryMap> makeProcessWide();

  virtual ~GoodsCategoryMap();

  // Replaces the cache with every row of `c_g_bind`.
  void load(const std::shared_ptr<IDb>& db);

  // The category bound to the item; 0 when it has none.
  int categoryOf(const std::string& itemId);
  // The items bound to the category, in item id order (text order).
  std::vector<std::string> itemsOf(int categoryId);
  // Every binding: item id -> category id.
  std::map<std::string, int> all();

  // Replaces the item's binding (delete and insert in one unit).
  void bind(const std::shared_ptr<IDb>& db, const std::string& itemId, int categoryId);
  void unbind(const std::shared_ptr<IDb>& db, const std::string& itemId);
  // Drops the cached bindings of a category whose `c_g_bind` rows were
  // deleted together with it (Category::remove, once its unit is kept).
  void forgetCategory(int categoryId);

 private:
  GoodsCategoryMap() = default;

  SharedMutex mutex_;
  std::map<std::string, int> cache_ GUARDED_BY(mutex_);  // guarded by mutex_; item id -> category id
};

}  // namespace Quorvel
