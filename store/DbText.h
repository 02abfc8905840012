// Helpers of the database layer (Db, DbResult) only: the charset boundary
// between the program's GBK text and the UTF-8 text of the database file,
// and the DbException built from a failed SQLite call. Any thread.
#pragma once

#include <string>

#include "store/DbException.h"

struct sqlite3;

namespace Quorvel {

// GBK program text as the UTF-8 the database file holds. Plain ASCII is the
// same in both and is passed through without a converter.
std::string toDbText(const std::string& gbkText);
std::string toDbText(const char* gbkText, std::size_t length);

// UTF-8 text from the database as GBK program text.
std::string fromDbText(const char* utf8Text, std::size_t length);

// DbException with the connection's last error message and `code`.
DbException sqliteError(sqlite3* db, int code);
// DbException with an error message from SQLite (UTF-8) and `code`.
DbException sqliteError(const std::string& utf8Message, int code);

}  // namespace Quorvel
