// IDbResult / DbResult: the cursor over one prepared statement, handed out by
// IDb::query. next() steps to the following row, fetch() copies the current
// row into a DbRow (an INTEGER column is the int kind when it fits in 32
// bits, else the int64 kind). A step that fails (constraint violation, busy
// database, I/O error) raises DbException with SQLite's message and result
// code.
//
// Used only by the thread that owns the connection. The cursor keeps its
// connection open for as long as it lives.
#pragma once

#include <memory>

#include "store/Value.h"

struct sqlite3_stmt;

namespace Quorvel {

class IDb;

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
};

class DbResult : public IDbResult {
 public:
  // Takes ownership of `statement`; `connection` is kept alive with it.
  DbResult(sqlite3_stmt* statement, std::shared_ptr<IDb> connection);
  ~DbResult() override;
  DbResult(const DbResult&) = delete;
  DbResult& operator=(const DbResult&) = delete;

  bool next() override;
  std::shared_ptr<DbRow> fetch() override;
  bool step() override;

 private:
  // One sqlite3_step; true on a row, false when done, DbException otherwise.
  bool advance();

  sqlite3_stmt* statement_;
  std::shared_ptr<IDb> connection_;
  bool stepped_ = false;
  bool onRow_ = false;  // the last step yielded a row
};

}  // namespace Quorvel
