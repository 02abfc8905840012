#include "store/Savepoint.h"

#include "store/Db.h"

namespace Quorvel {

namespace {

// One name serves every level: SQLite releases or rolls back to the most
// recent savepoint of that name, which is always this object's own.
const char kName[] = "`quorvel_unit`";

}  // namespace

Savepoint::Savepoint(std::shared_ptr<IDb> db) : db_(std::move(db)) { db_->exec(std::string("savepoint ") + kName); }

Savepoint::~Savepoint() {
  if (!open_) return;
  try {
    db_->exec(std::string("rollback to ") + kName);
    db_->exec(std::string("release ") + kName);
  } catch (Exception) {
    // SQLite may already have ended the transaction by itself (busy, I/O
    // error); the failure that brought us here is the one to report.
  }
}

void Savepoint::release() {
  db_->exec(std::string("release ") + kName);
  open_ = false;
}

}  // namespace Quorvel
