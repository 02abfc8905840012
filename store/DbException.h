// DbException: a failure of the database layer. The code is SQLite's result
// code (SQLITE_CONSTRAINT, SQLITE_BUSY, ...), or kNoResultSet when a row was
// fetched from a statement that has no result columns. Raised and caught by
// value on any thread.
#pragma once

#include <string>

#include "base/Exception.h"

namespace Quorvel {

class DbException : public Exception {
 public:
  static constexpr int kNoResultSet = 100001;

  DbException(std::string message, int code) : Exception(std::move(message), code) {}
};

}  // namespace Quorvel
