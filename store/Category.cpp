#include "store/Category.h"

#include <json/json.h>

#include <atomic>
#include <mutex>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "store/Db.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/Savepoint.h"

namespace Quorvel {

namespace {

// name, type, flg, tpl, store_num, store_total_num, ext: the seven values of
// both the insert and the update.
std::shared_ptr<ISQL> bindFields(std::shared_ptr<ISQL> sql, const CategoryRecord& record) {
  return sql->bind(record.name)
      ->bind(static_cast<int>(record.type))
      ->bind(static_cast<int>(record.flg))
      ->bind(record.tpl)
      ->bind(record.store_num)
      ->bind(record.store_total_num)
      ->bind(record.ext);
}

}  // namespace

std::shared_ptr<Category> Category::instance() { return processWide<Category>(); }

std::shared_ptr<Category> Category::makeProcessWide() {
  std::shared_ptr<Category> made(new Category);
  made->load(getDb());
  return made;
}

Category::~Category() = default;

void Category::load(const std::shared_ptr<IDb>& db) {
  std::map<int, CategoryRecord> loaded;
  std::shared_ptr<IDbResult> rows = db->query("select * from `category`");
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    CategoryRecord record;
    record.id = (*row)["id"].toInt();
    record.name = (*row)["name"].toString();
    record.type = static_cast<CategoryType>((*row)["type"].toInt());
    record.flg = static_cast<CategorySwitch>((*row)["flg"].toInt());
    record.tpl = (*row)["tpl"].toString();
    record.store_num = (*row)["store_num"].toInt();
    record.store_total_num = (*row)["store_total_num"].toInt();
    record.ext = (*row)["ext"].toString();
    loaded[record.id] = std::move(record);
  }
  WriterLock hold(mutex_);
  cache_.swap(loaded);
}

CategoryRecord Category::get(int id) {
  ReaderLock hold(mutex_);
  auto found = cache_.find(id);
  return found == cache_.end() ? CategoryRecord() : found->second;
}

bool Category::contains(int id) {
  ReaderLock hold(mutex_);
  return cache_.count(id) != 0;
}

std::vector<CategoryRecord> Category::all() {
  ReaderLock hold(mutex_);
  std::vector<CategoryRecord> records;
  records.reserve(cache_.size());
  for (const auto& [id, record] : cache_) records.push_back(record);
  return records;
}

void Category::add(const std::shared_ptr<IDb>& db, CategoryRecord& record) {
  db->execute(bindFields(std::make_shared<SQL>("insert into `category` (`name`,`type`,`flg`,`tpl`,`store_num`,"
                                               "`store_total_num`,`ext`) values(?,?,?,?,?,?,?)"),
                         record));
  record.id = db->lastInsertId();
  WriterLock hold(mutex_);
  cache_[record.id] = record;
}

void Category::update(const std::shared_ptr<IDb>& db, const CategoryRecord& record) {
  if (!contains(record.id)) {
    throw Exception(gbk("分类不存在（ID ") + std::to_string(record.id) + gbk("），未修改任何分类。"));
  }
  db->execute(bindFields(std::make_shared<SQL>("update `category` set `name`=?,`type`=?,`flg`=?,`tpl`=?,"
                                               "`store_num`=?,`store_total_num`=?,`ext`=? where `id` = ?"),
                         record)
                  ->bind(record.id));
  WriterLock hold(mutex_);
  // Removed meanwhile by another thread: the row is gone, so is the record.
  auto found = cache_.find(record.id);
  if (found != cache_.end()) found->second = record;
}

void Category::setCounters(const std::shared_ptr<IDb>& db, int id, int storeNum, int storeTotalNum) {
  // A row that holds these counters already is not written again: a
  // delivery's finish changes the marks of its cards, not their counts, and
  // an unchanged row would still cost its page in the log.
  db->execute(std::make_shared<SQL>("update `category` set `store_num`=?1,`store_total_num`=?2 where `id`=?3 "
                                    "and (`store_num` is not ?1 or `store_total_num` is not ?2)")
                  ->bind(storeNum)
                  ->bind(storeTotalNum)
                  ->bind(id));
  WriterLock hold(mutex_);
  auto found = cache_.find(id);
  if (found == cache_.end()) return;
  found->second.store_num = storeNum;
  found->second.store_total_num = storeTotalNum;
}

void Category::remove(const std::shared_ptr<IDb>& db, int id) {
  {
    // One unit: the count, and the deletes it allows, see the same cards.
    Savepoint unit(db);
    auto sql = std::make_shared<SQL>("select count(*) as `num` from `items` where `cg_id`=? and `send_order_id`=''");
    std::shared_ptr<IDbResult> rows = db->query(sql->bind(id));
    const int unsent = rows->next() ? (*rows->fetch())["num"].toInt() : 0;
    rows.reset();
    if (unsent > 0) {
      throw Exception(gbk("该分类还有") + std::to_string(unsent) +
                      gbk("张未发送的卡密，请先删除或转移这些卡密，再删除分类。"));
    }
    // Cards reserved for a delivery in flight go out with it.
    rows = db->query(std::make_shared<SQL>("select count(*) as `num` from `items` where `cg_id`=? and "
                                           "instr(`send_order_id`,?)=1")
                         ->bind(id)
                         ->bind(Item::reservedPrefix()));
    const int reserved = rows->next() ? (*rows->fetch())["num"].toInt() : 0;
    rows.reset();
    if (reserved > 0) {
      throw Exception(gbk("该分类还有") + std::to_string(reserved) + gbk("张卡密正在发货中，请等发货结束后再删除分类。"));
    }
    for (const char* text : {"delete from `items` where `cg_id`=?", "delete from `c_g_bind` where `cg_id`=?",
                             "delete from `category` where `id`=?"}) {
      db->execute(std::make_shared<SQL>(text)->bind(id));
    }
    unit.release();
  }
  // The caches follow only what was kept.
  {
    WriterLock hold(mutex_);
    cache_.erase(id);
  }
  GoodsCategoryMap::instance()->forgetCategory(id);
}

Json::Value Category::parseJson(const std::string& text) {
  const std::string utf8 = gbkToUtf8(text);
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(utf8.data(), utf8.data() + utf8.size(), &value, nullptr)) return Json::Value();
  return value;
}

std::string Category::jsonText(const Json::Value& value) { return utf8ToGbk(value.asString()); }

Json::Value Category::toJson(const CategoryRecord& record) {
  Json::Value json(Json::objectValue);
  json["id"] = record.id;
  json["name"] = record.name;
  json["type"] = static_cast<int>(record.type);
  json["flg"] = static_cast<int>(record.flg);
  json["tpl"] = record.tpl;
  json["store_num"] = record.store_num;
  json["store_total_num"] = record.store_total_num;
  json["ext"] = record.ext;
  return json;
}

}  // namespace Quorvel
