#include "store/DbText.h"

#include <sqlite3.h>

#include <algorithm>

#include "base/Charset.h"
#include "store/StorageHealth.h"

namespace Quorvel {

namespace {

bool isAscii(const char* text, std::size_t length) {
  return std::all_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string toDbText(const char* gbkText, std::size_t length) {
  std::string text(gbkText, length);
  return isAscii(gbkText, length) ? text : gbkToUtf8(text);
}

std::string toDbText(const std::string& gbkText) { return toDbText(gbkText.data(), gbkText.size()); }

std::string fromDbText(const char* utf8Text, std::size_t length) {
  std::string text(utf8Text, length);
  return isAscii(utf8Text, length) ? text : utf8ToGbk(text);
}

DbException sqliteError(const std::string& utf8Message, int code) {
  // SQLite's messages may quote names from the statement; they are UTF-8.
  std::string text = utf8Message;
  try {
    text = fromDbText(utf8Message.data(), utf8Message.size());
  } catch (Exception e) {
    // Keep the raw text rather than lose the failure behind a charset error.
  }
  // A write the disk did not take is told to the seller in words, SQLite's
  // own text after them, and pauses the deliveries until writes work again.
  if (StorageHealth::isStorageFailure(code)) {
    text = StorageHealth::messageFor(code) + gbk("（") + text + gbk("）");
    storageHealth().noteFailure(code, text);
  }
  return DbException(text, code);
}

DbException sqliteError(sqlite3* db, int code) {
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return sqliteError(std::string(message ? message : ""), code);
}

}  // namespace Quorvel
