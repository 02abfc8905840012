// For tests: while alive, the default SQLite file system counts the syncs of
// the files it opens, by kind (the database file, its write-ahead log); see
// WrappingVfs for which connections it reaches. Counters may be read from
// any thread.
#pragma once

#include <atomic>

#include "tests/store/WrappingVfs.h"

namespace Quorvel::testing {

class SyncCountingVfs : public WrappingVfs {
 public:
  SyncCountingVfs() : WrappingVfs("sync-counting") {}

  int databaseSyncs() const { return databaseSyncs_; }
  int logSyncs() const { return logSyncs_; }

 protected:
  void onSync(int openFlags) override {
    if (openFlags & SQLITE_OPEN_MAIN_DB) ++databaseSyncs_;
    if (openFlags & SQLITE_OPEN_WAL) ++logSyncs_;
  }

 private:
  std::atomic<int> databaseSyncs_{0};
  std::atomic<int> logSyncs_{0};
};

}  // namespace Quorvel::testing
