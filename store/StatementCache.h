// StatementCache: the prepared statements of one connection that no cursor
// is using, kept by their SQL text so that running the same text again skips
// the prepare. A statement is in the cache or in exactly one cursor, never
// both: take() hands it out and removes it, giveBack() resets it, clears its
// bindings and keeps it again. Bounded: past the capacity the statement used
// longest ago is finalized.
//
// Belongs to one connection (Db) and is used only by the thread that owns
// that connection. Cursors hold it by shared pointer, so a statement given
// back after its connection closed is finalized, never kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace Quorvel {

class StatementCache {
 public:
  explicit StatementCache(std::size_t capacity);
  // Finalizes every kept statement.
  ~StatementCache();
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // From now on keeps statements of `handle` (the connection just opened).
  void open(sqlite3* handle);
  // Finalizes every kept statement and keeps none until the next open: the
  // connection is closing.
  void close();

  // A kept statement prepared from exactly `text`, now the caller's; null
  // when none is kept.
  sqlite3_stmt* take(std::string_view text);
  // Takes back a statement the caller is done with: resets it, clears its
  // bindings and keeps it under its text (sqlite3_sql). Finalizes it instead
  // when it belongs to no open connection of this cache, or when a statement
  // of the same text is kept already.
  void giveBack(sqlite3_stmt* statement);

  std::size_t size() const { return kept_.size(); }

 private:
  struct Kept {
    sqlite3_stmt* statement;
    std::uint64_t lastUse;
  };

  // Finalizes the statement used longest ago.
  void evictOne();

  const std::size_t capacity_;
  sqlite3* handle_ = nullptr;  // null while closed
  // Keyed by the statement's own text (sqlite3_sql), which lives as long as
  // the statement.
  std::unordered_map<std::string_view, Kept> kept_;
  std::uint64_t uses_ = 0;
};

}  // namespace Quorvel
