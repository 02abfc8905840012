#include "store/Db.h"

#include <sqlite3.h>

#include <algorithm>

#include "store/DatabaseFile.h"
#include "store/DbText.h"
#include "store/StatementCache.h"
#include "store/StorageHealth.h"

namespace Quorvel {

namespace {

void bindValue(sqlite3_stmt* statement, int index, const IValue& value) {
  // Bind result codes are not examined: a value past the last placeholder is
  // ignored by SQLite, and a placeholder without a value stays NULL.
  switch (value.kind()) {
    case ValueKind::Int:
      sqlite3_bind_int(statement, index, value.toInt());
      break;
    case ValueKind::UInt:
      sqlite3_bind_int(statement, index, static_cast<int>(value.toUInt()));
      break;
    case ValueKind::Short:
      sqlite3_bind_int(statement, index, value.toShort());
      break;
    case ValueKind::UShort:
      sqlite3_bind_int(statement, index, value.toUShort());
      break;
    case ValueKind::Float:
      sqlite3_bind_double(statement, index, value.toFloat());
      break;
    case ValueKind::Double:
      sqlite3_bind_double(statement, index, value.toDouble());
      break;
    case ValueKind::Int64:
      sqlite3_bind_int64(statement, index, value.toInt64());
      break;
    case ValueKind::UInt64:
      sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(value.toUInt64()));
      break;
    case ValueKind::String: {
      std::string text = toDbText(value.toString());
      // An empty string binds as empty text, never as NULL.
      sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case ValueKind::Blob: {
      std::string bytes = value.toString();
      sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
    default:
      sqlite3_bind_null(statement, index);
      break;
  }
}

}  // namespace

Db::Db(Env env) : Db(env, env.get<DatabaseOptions>()->path) {}

Db::Db(Env env, std::string path) : env_(std::move(env)), path_(std::move(path)) {
  std::shared_ptr<DatabaseOptions> options = env_.get<DatabaseOptions>();
  busyTimeout_ = options->busyTimeout;
  busyObserver_ = options->busyObserver;
  wantWriteAheadLog_ = options->writeAheadLog;
  statements_ = std::make_shared<StatementCache>(options->statementCacheSize);
}

Db::~Db() { close(); }

std::shared_ptr<IDb> Db::getPtr() { return shared_from_this(); }

void Db::open() {
  close();
  sqlite3* handle = nullptr;
  // A connection is only ever used by one thread at a time (its owner), so
  // SQLite's own lock around every call on it is left out.
  int rc = sqlite3_open_v2(toDbText(path_).c_str(), &handle,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    DbException failure = sqliteError(handle, rc);
    sqlite3_close(handle);
    throw failure;
  }
  handle_ = handle;
  sqlite3_busy_handler(handle_, &Db::onBusy, this);
  statements_->open(handle_);
  try {
    configure();
  } catch (Exception) {
    close();
    throw;
  }
}

void Db::configure() {
  // Called while the connection may still be under construction (SqliteDb),
  // so straight through SQLite rather than through exec and query.
  writeAheadLog_ = false;
  if (wantWriteAheadLog_) {
    // The mode is kept in the file: this switches a file fresh from the
    // template once and afterwards only reads it back. A file that cannot
    // switch (another connection holds it past the busy timeout) stays in
    // its rollback journal, with every commit synced.
    sqlite3_stmt* mode = nullptr;
    if (sqlite3_prepare_v2(handle_, "pragma journal_mode=wal", -1, &mode, nullptr) == SQLITE_OK &&
        sqlite3_step(mode) == SQLITE_ROW) {
      auto text = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
      writeAheadLog_ = text && std::string_view(text) == "wal";
    }
    sqlite3_finalize(mode);
  }
  // With the log, NORMAL writes each commit and syncs at checkpoints: a
  // crash of the program loses nothing committed, a power loss at most the
  // last commits, and the file is never corrupted. Without it only FULL
  // gives that.
  const char* level = writeAheadLog_ ? "pragma synchronous=NORMAL" : "pragma synchronous=FULL";
  int rc = sqlite3_exec(handle_, level, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw sqliteError(handle_, rc);
}

int Db::onBusy(void* self, int attempts) {
  auto* db = static_cast<Db*>(self);
  const Clock::Instant now = db->env_.clock().monotonic();
  if (attempts == 0) db->busySince_ = now;
  auto left = db->busyTimeout_ - std::chrono::duration_cast<std::chrono::milliseconds>(now - db->busySince_);
  if (left <= std::chrono::milliseconds::zero()) return 0;
  if (db->busyObserver_) db->busyObserver_(attempts);
  // Short pauses first, as a lock is usually held only briefly.
  static const int pausesMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  constexpr int kPauses = sizeof(pausesMs) / sizeof(pausesMs[0]);
  std::chrono::milliseconds pause{pausesMs[std::min(attempts, kPauses - 1)]};
  db->env_.clock().sleepForMillis(std::min(pause, left).count(), std::stop_token());
  return 1;
}

sqlite3_stmt* Db::prepare(std::string_view text, std::string_view* rest, bool* keep) {
  if (sqlite3_stmt* kept = statements_->take(text)) {
    *rest = std::string_view();
    *keep = true;
    return kept;
  }
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(handle_, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                              &statement, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    throw sqliteError(handle_, rc);
  }
  *rest = tail ? text.substr(static_cast<std::size_t>(tail - text.data())) : std::string_view();
  // Only a statement that is the whole text is found again under that text.
  *keep = rest->empty();
  return statement;
}

std::shared_ptr<DbResult> Db::cursor(sqlite3_stmt* statement, bool keep) {
  return std::make_shared<DbResult>(statement, keep ? statements_ : nullptr, getPtr());
}

std::shared_ptr<IDb> Db::exec(const std::string& sql) {
  if (!handle_) throw DbException("database is not open", SQLITE_MISUSE);
  const std::string text = toDbText(sql);
  std::string_view rest = text;
  while (!rest.empty()) {
    bool keep = false;
    sqlite3_stmt* statement = prepare(rest, &rest, &keep);
    if (!statement) break;  // only blanks or comments were left
    // Each statement runs to its end; rows are dropped.
    DbResult run(statement, keep ? statements_ : nullptr, nullptr);
    while (run.next()) {
    }
  }
  return getPtr();
}

std::shared_ptr<IDb> Db::execute(const std::shared_ptr<ISQL>& sql) {
  query(sql)->next();
  return getPtr();
}

std::shared_ptr<IDbResult> Db::query(const std::string& sql) { return query(std::make_shared<SQL>(sql)); }

std::shared_ptr<IDbResult> Db::query(const std::shared_ptr<ISQL>& sql) {
  if (!handle_) throw DbException("database is not open", SQLITE_MISUSE);
  std::string text = toDbText(sql->getSql(getPtr()));
  std::string_view rest;
  bool keep = false;
  sqlite3_stmt* statement = prepare(text, &rest, &keep);
  std::shared_ptr<DbResult> result = cursor(statement, keep);
  std::shared_ptr<std::vector<IValue>> params = sql->getParams();
  for (std::size_t i = 0; i < params->size(); ++i) bindValue(statement, static_cast<int>(i + 1), (*params)[i]);
  return result;
}

int Db::lastInsertId() {
  if (!handle_) return 0;
  return static_cast<int>(sqlite3_last_insert_rowid(handle_));
}

std::shared_ptr<IDb> Db::connect() {
  open();
  return getPtr();
}

void Db::close() {
  if (!handle_) return;
  statements_->close();
  // A statement a cursor still holds keeps the handle until it is finalized.
  sqlite3_close_v2(handle_);
  handle_ = nullptr;
  writeAheadLog_ = false;
}

// Takes the write lock at once (waiting up to the busy timeout): with the log,
// a deferred transaction that read first would fail at its first write,
// without waiting, whenever another connection had committed since the read.
void Db::begin() { exec("begin immediate transaction"); }

void Db::commit() {
  exec("commit transaction");
  storageHealth().noteWriteWorked();
}

void Db::rollback() {
  // SQLite ends a transaction by itself after some failures (busy, I/O
  // error); rolling back then must not raise a second error over the first.
  if (handle_ && sqlite3_get_autocommit(handle_)) return;
  exec("rollback transaction");
}

void Db::commitDurable() {
  commit();
  // Without the log the commit was synced (FULL). With it, the commit is in
  // the log file, written but not synced: sync the log now. Once the log is
  // on the disk the commit is, as a checkpoint copies only synced log pages.
  if (!writeAheadLog_) return;
  sqlite3_file* log = nullptr;
  int rc = sqlite3_file_control(handle_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log);
  if (rc == SQLITE_OK && log && log->pMethods) rc = log->pMethods->xSync(log, SQLITE_SYNC_FULL);
  if (rc != SQLITE_OK) throw sqliteError(std::string("the committed changes could not be synced to the disk"), rc);
  storageHealth().noteWriteWorked();
}

void Db::resetForNextAction() {
  if (!handle_) return;
  // A statement stepped and not reset keeps a read of the database open
  // (and with it a snapshot older than other connections' commits).
  for (sqlite3_stmt* statement = sqlite3_next_stmt(handle_, nullptr); statement;
       statement = sqlite3_next_stmt(handle_, statement)) {
    if (sqlite3_stmt_busy(statement)) sqlite3_reset(statement);
  }
  if (!sqlite3_get_autocommit(handle_)) exec("rollback transaction");
}

int Db::statementsInUse() const {
  if (!handle_) return 0;
  int busy = 0;
  for (sqlite3_stmt* statement = sqlite3_next_stmt(handle_, nullptr); statement;
       statement = sqlite3_next_stmt(handle_, statement)) {
    if (sqlite3_stmt_busy(statement)) ++busy;
  }
  return busy;
}

SqliteDb::SqliteDb(Env env) : Db(std::move(env)) { open(); }

SqliteDb::~SqliteDb() = default;

}  // namespace Quorvel
