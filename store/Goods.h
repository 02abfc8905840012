// Goods: the seller's items on sale on the marketplace, table `goods`, kept
// in memory in table order. The list is read from the table on first use
// and scraped again from the marketplace (the goods refresh) on the first
// list of every run and whenever the web UI asks for it.
//
// Any thread may call any operation. The in-memory list and the refreshed
// flag are guarded by the store's reader-writer lock, never held across a
// page fetch or database work; refreshes run one at a time (refreshMutex_,
// held for the whole refresh and taken by nothing else). A refresh writes the
// table through the connection it is given; the first use's load reads the
// building thread's connection (getDb), later loads the one they are given.
#pragma once

#include <json/value.h>

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "base/Mutex.h"
#include "store/GoodsRefreshProgress.h"
#include "store/GoodsSource.h"

namespace Quorvel {

class IDb;

class Goods : public std::enable_shared_from_this<Goods> {
 public:
  // Pages read by one refresh at most.
  static constexpr int kDefaultPageLimit = 200;

  // The store (processWide), built and loaded on first use; not yet refreshed.
  static std::shared_ptr<Goods> instance();
  static std::shared_ptr<Goods> makeProcessWide();

  virtual ~Goods();

  // Replaces the list with the rows of `goods` and clears the refreshed flag.
  void load(const std::shared_ptr<IDb>& db);

  // The list as a JSON array of goods objects, in store order; null when
  // there are none. Refreshes first, from `source`, when `force` is set or
  // when no refresh has succeeded in this run.
  Json::Value list(const std::shared_ptr<IDb>& db, GoodsSource& source, bool force);

  // Reads the on-sale list page by page until a page shows no item, a page
  // shows exactly the items of the page before it (a site that ignores the
  // page number), or the page limit is reached; then rewrites the table with
  // every item read, in one unit, and sets the refreshed flag. Failures are
  // swallowed (their message goes to standard output): the table keeps its
  // rows, the list holds the items read before the failure, and the flag
  // keeps its value. GoodsRefreshProgress::instance() follows each
  // refresh: begun, page by page, ended with the failure's message. The
  // pages come from `source`.
  void refresh(const std::shared_ptr<IDb>& db, GoodsSource& source);

  std::vector<GoodsRecord> items();
  bool refreshed();

  void setPageLimit(int pages);

  // {"url", "name", "item_id", "img_url"}
  static Json::Value toJson(const GoodsRecord& record);

 private:
  Goods() = default;

  // The refresh, run while holding refreshMutex_.
  void refreshHeld(const std::shared_ptr<IDb>& db, GoodsSource& source) REQUIRES(refreshMutex_);
  // Reads the pages; `read` receives what was read even when this raises.
  // Each page read is counted in `progress`.
  void readPages(GoodsSource& source, std::vector<GoodsRecord>& read, GoodsRefreshProgress& progress);

  Mutex refreshMutex_;  // held by the refresh that runs

  SharedMutex mutex_;
  std::vector<GoodsRecord> items_ GUARDED_BY(mutex_);  // guarded by mutex_
  bool refreshed_ GUARDED_BY(mutex_) = false;          // guarded by mutex_
  int pageLimit_ GUARDED_BY(mutex_) = kDefaultPageLimit;  // guarded by mutex_
};

}  // namespace Quorvel
