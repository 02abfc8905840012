#include "store/StatementCache.h"

#include <sqlite3.h>

namespace Quorvel {

StatementCache::StatementCache(std::size_t capacity) : capacity_(capacity) {}

StatementCache::~StatementCache() { close(); }

void StatementCache::open(sqlite3* handle) {
  close();
  handle_ = handle;
}

void StatementCache::close() {
  for (auto& [text, kept] : kept_) sqlite3_finalize(kept.statement);
  kept_.clear();
  handle_ = nullptr;
}

sqlite3_stmt* StatementCache::take(std::string_view text) {
  auto found = kept_.find(text);
  if (found == kept_.end()) return nullptr;
  sqlite3_stmt* statement = found->second.statement;
  kept_.erase(found);
  return statement;
}

void StatementCache::giveBack(sqlite3_stmt* statement) {
  if (!statement) return;
  // A statement of a connection that has closed (or was reopened) goes: it
  // may be the last thing that keeps the old handle open.
  if (!handle_ || capacity_ == 0 || sqlite3_db_handle(statement) != handle_) {
    sqlite3_finalize(statement);
    return;
  }
  // Ends the statement's read of the database, so that a kept statement never
  // holds a snapshot or a lock. A failed last step is not this caller's
  // business any more.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  const char* text = sqlite3_sql(statement);
  auto [slot, added] = kept_.try_emplace(std::string_view(text ? text : ""), Kept{statement, ++uses_});
  if (!added) {
    // A second statement of the same text (a nested query): one is enough.
    sqlite3_finalize(statement);
    return;
  }
  if (kept_.size() > capacity_) evictOne();
}

void StatementCache::evictOne() {
  auto oldest = kept_.begin();
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->second.lastUse < oldest->second.lastUse) oldest = it;
  }
  sqlite3_stmt* statement = oldest->second.statement;
  kept_.erase(oldest);  // its key points into the statement: erase first
  sqlite3_finalize(statement);
}

}  // namespace Quorvel
