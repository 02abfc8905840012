// Category: the card categories (a kind of card with its delivery templates,
// channel switches and stock counters), table `category`, kept whole in a
// cache loaded on first use. Reads come from the cache; every change is
// written to the table first and then to the cache.
//
// Any thread may call any operation: the web UI edits categories while the
// delivery daemon reads them and the card store rewrites their counters. The
// cache is guarded by the store's own reader-writer lock, which is never held
// across database work. The table is written through the connection the
// caller gives (its thread's own), inside whatever transaction is open on it
// (the first use's load reads the building thread's connection, getDb); the
// cache does not follow a rollback of the caller's transaction, so a caller
// that rolls back card changes refreshes the counters of the categories
// concerned afterwards (Item::refreshCounters).
#pragma once

#include <json/value.h>

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/Mutex.h"

namespace Quorvel {

class IDb;

// What a category delivers (column `category`.`type`; the stored number is
// the value). A number the web UI sent that is neither is kept as it came.
enum class CategoryType : int {
  kCards = 1,  // 卡密: unsent cards, filled into the templates
  kText = 2,   // 纯文本: the goods template alone
};

// Whether a category delivers at all (column `category`.`flg`). Any number
// but kOff counts as on, and is kept as it came.
enum class CategorySwitch : int {
  kOff = 0,
  kOn = 1,
};

// One category. The default record (id 0, empty texts, zero numbers) stands
// for "no such category".
struct CategoryRecord {
  int id = 0;
  std::string name;
  CategoryType type{};
  CategorySwitch flg = CategorySwitch::kOff;
  std::string tpl;  // JSON object text: the delivery templates
  int store_num = 0;        // unsent cards
  int store_total_num = 0;  // all cards
  std::string ext;  // JSON object text: channel switches and purchase limit
};

class Category : public std::enable_shared_from_this<Category> {
 public:
  // The store (processWide), built and loaded from the database on first use.
  static std::shared_ptr<Category> instance();
  static std::shared_ptr<Category> makeProcessWide();

  virtual ~Category();

  // Replaces the cache with every row of `category`.
  void load(const std::shared_ptr<IDb>& db);

  // A copy of the cached record, or the default record for an id not stored.
  CategoryRecord get(int id);
  bool contains(int id);
  // Every category, in id order.
  std::vector<CategoryRecord> all();

  // Inserts the record and caches it; sets record.id to the new id. A failing
  // insert raises DbException and caches nothing.
  void add(const std::shared_ptr<IDb>& db, CategoryRecord& record);
  // Writes every field of the record to the row with its id, then the cache.
  // Raises Exception, and changes nothing, when no category has that id.
  void update(const std::shared_ptr<IDb>& db, const CategoryRecord& record);
  // Writes the two stock counters only (the card store's refresh), so a name
  // or template edited at the same time is never put back. An id not stored
  // changes nothing and creates no record.
  void setCounters(const std::shared_ptr<IDb>& db, int id, int storeNum, int storeTotalNum);
  // Deletes the category with its bindings and its delivered cards, in one
  // unit (a savepoint), and then drops them from the caches (this one and
  // GoodsCategoryMap's). Raises Exception, and deletes nothing, while the
  // category still holds unsent cards, or cards reserved for a delivery in
  // flight: the message gives their number. A
  // failing delete raises DbException and leaves table and caches as they
  // were. An id not stored deletes only what is left under it.
  void remove(const std::shared_ptr<IDb>& db, int id);

  // {"id", "name", "type", "flg", "tpl", "store_num", "store_total_num", "ext"}
  static Json::Value toJson(const CategoryRecord& record);

  // The JSON value of a category's tpl or ext text. The text is GBK, like
  // everything in memory, and a GBK character's second byte may be a
  // backslash or a quote, so it is read through UTF-8: strings in the value
  // are UTF-8 (read them with jsonText). Empty text, or text that is not
  // JSON, gives null. Text that is not valid GBK raises Exception("Iconv
  // ERROR!").
  static Json::Value parseJson(const std::string& text);
  // A member read from parseJson's value as GBK text: a string, or the text
  // of a number or boolean; null gives empty text. Other kinds raise the JSON
  // library's exception.
  static std::string jsonText(const Json::Value& value);

 private:
  Category() = default;

  SharedMutex mutex_;
  std::map<int, CategoryRecord> cache_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
