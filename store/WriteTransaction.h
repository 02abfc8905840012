// WriteTransaction: a transaction that takes the write lock when it begins
// (IDb::begin), so that its reads and writes see one state and it never has
// to upgrade a read lock (which SQLite refuses at once, without waiting, when
// another writer is waiting). Rolled back unless committed; a failed
// rollback is swallowed, since the failure that led there is the one to
// report.
//
// Made on the stack by the thread that owns the connection.
#pragma once

#include <memory>

#include "base/Exception.h"
#include "store/Db.h"

namespace Quorvel {

class WriteTransaction {
 public:
  explicit WriteTransaction(std::shared_ptr<IDb> db) : db_(std::move(db)) { db_->begin(); }
  ~WriteTransaction() {
    if (!open_) return;
    try {
      db_->rollback();
    } catch (Exception) {
      // The failure that brought us here is the one to report.
    }
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  void commit() {
    db_->commit();
    open_ = false;
  }
  // For the commits a crash must not undo (a delivery's reservation before
  // the marketplace is asked to ship, and its finish): the file is synced
  // before this returns, also on a power loss.
  void commitDurable() {
    db_->commitDurable();
    open_ = false;
  }

 private:
  std::shared_ptr<IDb> db_;
  bool open_ = true;
};

}  // namespace Quorvel
