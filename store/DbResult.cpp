#include "store/DbResult.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>

#include "base/Charset.h"
#include "store/DbText.h"

namespace Quorvel {

DbResult::DbResult(sqlite3_stmt* statement, std::shared_ptr<IDb> connection)
    : statement_(statement), connection_(std::move(connection)) {}

DbResult::~DbResult() { sqlite3_finalize(statement_); }

bool DbResult::advance() {
  stepped_ = true;
  int rc = sqlite3_step(statement_);
  onRow_ = rc == SQLITE_ROW;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return onRow_;
  throw sqliteError(sqlite3_db_handle(statement_), rc);
}

bool DbResult::next() { return advance(); }

bool DbResult::step() {
  advance();
  // advance raised on a failure, so only "done" ends the statement here.
  return onRow_;
}

std::shared_ptr<DbRow> DbResult::fetch() {
  auto row = std::make_shared<DbRow>();
  if (!stepped_) advance();
  int columns = sqlite3_column_count(statement_);
  if (columns == 0) throw DbException(gbk("没有结果集，不能进行数据获取！"), DbException::kNoResultSet);
  for (int i = 0; i < columns; ++i) {
    IValue& value = (*row)[sqlite3_column_name(statement_, i)];
    value.reset();  // a later column of the same name replaces an earlier one
    // Past the last row every column reads as NULL.
    if (!onRow_) continue;
    switch (sqlite3_column_type(statement_, i)) {
      case SQLITE_INTEGER: {
        // Numbers of 32 bits are the int kind every store reads with toInt;
        // a wider one (a marketplace item id) keeps all its bits as int64,
        // so that toInt refuses it instead of handing out a cut-off number.
        const sqlite3_int64 number = sqlite3_column_int64(statement_, i);
        if (number >= INT32_MIN && number <= INT32_MAX) {
          value.set(static_cast<std::int32_t>(number));
        } else {
          value.set(static_cast<std::int64_t>(number));
        }
        break;
      }
      case SQLITE_FLOAT:
        value.set(sqlite3_column_double(statement_, i));
        break;
      case SQLITE_TEXT: {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, i));
        value.set(fromDbText(text, std::strlen(text)));
        break;
      }
      case SQLITE_BLOB: {
        auto data = static_cast<const char*>(sqlite3_column_blob(statement_, i));
        value.set(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(statement_, i)));
        break;
      }
      default:
        break;  // NULL stays empty
    }
  }
  return row;
}

}  // namespace Quorvel
