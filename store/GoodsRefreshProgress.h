// GoodsRefreshProgress: how far the goods refresh (Goods::refresh) has come,
// for the status page while the marketplace answers slowly: whether one is
// running, the pages and items it has read so far (or the last one read),
// when the last one ended and why it failed, if it did. The process's one
// is GoodsRefreshProgress::instance(); the refresh writes it, page by
// page, and "getStatus" reads it.
//
// Any thread may call any operation. The fields are guarded by the object's
// own mutex, held only to copy them: a reader never waits for a page.
#pragma once

#include <memory>

#include <cstdint>
#include <mutex>
#include <string>

#include "base/Mutex.h"

namespace Quorvel {

class GoodsRefreshProgress {
 public:
  // The program's one (processWide).
  static std::shared_ptr<GoodsRefreshProgress> instance();

  struct State {
    bool running = false;
    int pages = 0;              // pages read by the refresh running, or the last one
    int items = 0;              // items on them
    std::int64_t finished = 0;  // when the last refresh ended (seconds); 0: none yet
    std::string message;        // why the last refresh failed (GBK); empty when it did not
  };

  // A refresh begins: running, nothing read, no failure.
  void started();
  // One more page with `items` items has been read.
  void pageRead(int items);
  // The refresh ended at `time`; `failure` is empty when it succeeded.
  void ended(std::int64_t time, const std::string& failure);

  State state();

 private:
  Mutex mutex_;
  State state_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
