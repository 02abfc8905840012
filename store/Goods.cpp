#include "store/Goods.h"

#include <atomic>
#include <cstdio>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/ProcessWide.h"
#include "store/Db.h"
#include "store/GoodsRefreshProgress.h"
#include "store/Savepoint.h"

namespace Quorvel {

namespace {

class NoGoodsSource : public GoodsSource {
 public:
  std::vector<GoodsRecord> page(int) override {
    throw Exception(gbk("没有连接淘宝，无法读取在售宝贝。"));
  }
};

std::vector<std::string> idsOf(const std::vector<GoodsRecord>& records) {
  std::vector<std::string> ids;
  ids.reserve(records.size());
  for (const GoodsRecord& record : records) ids.push_back(record.item_id);
  return ids;
}

}  // namespace

std::shared_ptr<Goods> Goods::instance() { return processWide<Goods>(); }

std::shared_ptr<Goods> Goods::makeProcessWide() {
  std::shared_ptr<Goods> made(new Goods);
  made->load(getDb());
  return made;
}

std::shared_ptr<GoodsSource> GoodsSource::makeProcessWide() { return std::make_shared<NoGoodsSource>(); }

Goods::~Goods() = default;

void Goods::load(const std::shared_ptr<IDb>& db) {
  std::vector<GoodsRecord> loaded;
  std::shared_ptr<IDbResult> rows = db->query("select * from `goods`");
  while (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    GoodsRecord record;
    record.item_id = (*row)["item_id"].toString();
    record.name = (*row)["name"].toString();
    record.url = (*row)["url"].toString();
    record.img_url = (*row)["img_url"].toString();
    loaded.push_back(std::move(record));
  }
  WriterLock hold(mutex_);
  items_.swap(loaded);
  refreshed_ = false;
}

Json::Value Goods::list(const std::shared_ptr<IDb>& db, GoodsSource& source, bool force) {
  if (force) {
    refresh(db, source);
  } else if (!refreshed()) {
    // Two first lists at once scrape once: the second finds the flag set.
    MutexLock running(refreshMutex_);
    if (!refreshed()) refreshHeld(db, source);
  }
  Json::Value array;  // null while empty
  for (const GoodsRecord& record : items()) array.append(toJson(record));
  return array;
}

void Goods::readPages(GoodsSource& source, std::vector<GoodsRecord>& read, GoodsRefreshProgress& progress) {
  int limit;
  {
    ReaderLock hold(mutex_);
    limit = pageLimit_;
  }
  std::vector<std::string> previous;
  for (int page = 1; page <= limit; ++page) {
    std::vector<GoodsRecord> shown = source.page(page);
    if (shown.empty()) return;
    std::vector<std::string> ids = idsOf(shown);
    if (ids == previous) return;  // the site shows the same page again
    read.insert(read.end(), shown.begin(), shown.end());
    progress.pageRead(static_cast<int>(shown.size()));
    previous = std::move(ids);
  }
}

void Goods::refresh(const std::shared_ptr<IDb>& db, GoodsSource& source) {
  MutexLock running(refreshMutex_);
  refreshHeld(db, source);
}

namespace {

// Tells the progress that the refresh ended, also when something other than
// an Exception ends it.
class RefreshEnd {
 public:
  RefreshEnd(std::shared_ptr<GoodsRefreshProgress> progress, Clock& clock)
      : progress_(std::move(progress)), clock_(clock) {
    progress_->started();
  }
  ~RefreshEnd() { progress_->ended(endTime(), failure_); }
  RefreshEnd(const RefreshEnd&) = delete;
  RefreshEnd& operator=(const RefreshEnd&) = delete;
  void failed(const std::string& message) { failure_ = message; }

 private:
  std::int64_t endTime() {
    try {
      return clock_.now();
    } catch (...) {
      return 0;
    }
  }
  std::shared_ptr<GoodsRefreshProgress> progress_;
  Clock& clock_;
  std::string failure_ = "The goods refresh was interrupted.";
};

}  // namespace

void Goods::refreshHeld(const std::shared_ptr<IDb>& db, GoodsSource& source) {
  std::vector<GoodsRecord> read;
  std::shared_ptr<GoodsRefreshProgress> progress = GoodsRefreshProgress::instance();
  RefreshEnd end(progress, db->env().clock());
  try {
    // Every page is read before the table is touched, so no write lock is
    // held while the marketplace answers.
    readPages(source, read, *progress);
    Savepoint unit(db);
    db->exec("delete from `goods`");
    auto sql = std::make_shared<SQL>();
    for (const GoodsRecord& record : read) {
      sql->setSql("insert into `goods` ( `url` , `item_id` , `name` , `img_url` ) values (?,?,?,?) ");
      db->execute(sql->bind(record.url)->bind(record.item_id)->bind(record.name)->bind(record.img_url));
    }
    unit.release();
  } catch (Exception e) {
    std::printf("%s\n", e.message().c_str());
    end.failed(e.message().empty() ? std::string("The goods refresh failed.") : e.message());
    WriterLock hold(mutex_);
    items_.swap(read);
    return;
  }
  end.failed("");
  WriterLock hold(mutex_);
  items_.swap(read);
  refreshed_ = true;
}

std::vector<GoodsRecord> Goods::items() {
  ReaderLock hold(mutex_);
  return items_;
}

bool Goods::refreshed() {
  ReaderLock hold(mutex_);
  return refreshed_;
}

void Goods::setPageLimit(int pages) {
  WriterLock hold(mutex_);
  pageLimit_ = pages;
}

Json::Value Goods::toJson(const GoodsRecord& record) {
  Json::Value json(Json::objectValue);
  json["url"] = record.url;
  json["name"] = record.name;
  json["item_id"] = record.item_id;
  json["img_url"] = record.img_url;
  return json;
}

}  // namespace Quorvel
