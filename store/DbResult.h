// IDbResult / DbResult: the cursor over one prepared statement, handed out by
// IDb::query. next() steps to the following row, fetch() copies the current
// row into a DbRow (an INTEGER column is the int kind when it fits in 32
// bits, else the int64 kind). A step that fails (constraint violation, busy
// database, I/O error) raises DbException with SQLite's message and result
// code.
//
// Used only by the thread that owns the connection. The cursor keeps its
// connection open for as long as it lives, and owns its statement until it
// ends: then the statement goes back to the connection's StatementCache
// (reset, bindings cleared) or, without a cache, is finalized.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/Value.h"

struct sqlite3_stmt;

namespace Quorvel {

class IDb;
class StatementCache;

class IDbResult {
 public:
  virtual ~IDbResult() = default;

  // Steps the statement; true exactly when the step yields a row.
  virtual bool next() = 0;
  // The current row; steps once first when the cursor was never stepped.
  // Raises DbException(kNoResultSet) for a statement without result columns.
  virtual std::shared_ptr<DbRow> fetch() = 0;
  // Steps the statement; true unless the statement has finished.
  virtual bool step() = 0;
  // Column `index` (from 0) of the current row, read without copying the
  // row into a DbRow: what fetch()'s value of that column gives to toInt()
  // or toString(), with the same strictness (any other kind, NULL included,
  // raises "Value Type Error!") and the same first step of a fresh cursor.
  virtual std::int32_t intAt(int index) = 0;
  virtual std::string textAt(int index) = 0;
};

class DbResult : public IDbResult {
 public:
  // Takes ownership of `statement` until the cursor ends, when it is given
  // back to `cache` (finalized when `cache` is empty); `connection` is kept
  // alive with it.
  DbResult(sqlite3_stmt* statement, std::shared_ptr<StatementCache> cache, std::shared_ptr<IDb> connection);
  ~DbResult() override;
  DbResult(const DbResult&) = delete;
  DbResult& operator=(const DbResult&) = delete;

  bool next() override;
  std::shared_ptr<DbRow> fetch() override;
  bool step() override;
  std::int32_t intAt(int index) override;
  std::string textAt(int index) override;

 private:
  // One sqlite3_step; true on a row, false when done, DbException otherwise.
  bool advance();
  // The SQLite type of column `index` of the current row (steps a fresh
  // cursor first); SQLITE_NULL past the last row and for a column the
  // statement does not have.
  int typeAt(int index);

  sqlite3_stmt* statement_;
  std::shared_ptr<StatementCache> cache_;
  std::shared_ptr<IDb> connection_;
  bool stepped_ = false;
  bool onRow_ = false;  // the last step yielded a row
};

}  // namespace Quorvel
