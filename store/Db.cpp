#include "store/Db.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

#include "base/GlobalLock.h"
#include "base/ProcessWide.h"
#include "store/DatabaseFile.h"
#include "store/DbText.h"

namespace Quorvel {

namespace {

// The per-thread connections.
struct ThreadConnections {
  std::map<std::thread::id, std::shared_ptr<IDb>> byThread;  // guarded by globalLock()
};

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

Db::Db(std::string path) : path_(std::move(path)) {
  std::shared_ptr<DatabaseOptions> options = processWide<DatabaseOptions>();
  busyTimeout_ = options->busyTimeout;
  busyObserver_ = options->busyObserver;
}

Db::~Db() { close(); }

std::shared_ptr<IDb> Db::getPtr() { return shared_from_this(); }

void Db::open() {
  close();
  sqlite3* handle = nullptr;
  int rc = sqlite3_open(toDbText(path_).c_str(), &handle);
  if (rc != SQLITE_OK) {
    DbException failure = sqliteError(handle, rc);
    sqlite3_close(handle);
    throw failure;
  }
  handle_ = handle;
  sqlite3_busy_handler(handle_, &Db::onBusy, this);
}

int Db::onBusy(void* self, int attempts) {
  auto* db = static_cast<Db*>(self);
  auto now = std::chrono::steady_clock::now();
  if (attempts == 0) db->busySince_ = now;
  auto left = db->busyTimeout_ - std::chrono::duration_cast<std::chrono::milliseconds>(now - db->busySince_);
  if (left <= std::chrono::milliseconds::zero()) return 0;
  if (db->busyObserver_) db->busyObserver_(attempts);
  // Short pauses first, as a lock is usually held only briefly.
  static const int pausesMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  constexpr int kPauses = sizeof(pausesMs) / sizeof(pausesMs[0]);
  std::chrono::milliseconds pause{pausesMs[std::min(attempts, kPauses - 1)]};
  std::this_thread::sleep_for(std::min(pause, left));
  return 1;
}

std::shared_ptr<IDb> Db::exec(const std::string& sql) {
  if (!handle_) throw DbException("database is not open", SQLITE_MISUSE);
  char* error = nullptr;
  int rc = sqlite3_exec(handle_, toDbText(sql).c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw sqliteError(message, rc);
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
  std::shared_ptr<IDb> self = getPtr();
  std::string text = toDbText(sql->getSql(self));
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(handle_, text.data(), static_cast<int>(text.size()), &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    throw sqliteError(handle_, rc);
  }
  auto result = std::make_shared<DbResult>(statement, self);
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
  // A statement still alive keeps the handle until it is finalized.
  sqlite3_close_v2(handle_);
  handle_ = nullptr;
}

void Db::begin() { exec("begin transaction"); }

void Db::commit() { exec("commit transaction"); }

void Db::rollback() {
  // SQLite ends a transaction by itself after some failures (busy, I/O
  // error); rolling back then must not raise a second error over the first.
  if (handle_ && sqlite3_get_autocommit(handle_)) return;
  exec("rollback transaction");
}

SqliteDb::SqliteDb() : Db(databasePath()) { open(); }

SqliteDb::~SqliteDb() = default;

std::shared_ptr<IDb> getDb() {
  GlobalGuard hold;
  std::shared_ptr<IDb>& entry = processWide<ThreadConnections>()->byThread[std::this_thread::get_id()];
  if (!entry) entry = std::make_shared<SqliteDb>();
  return entry;
}

void releaseDb() {
  std::shared_ptr<IDb> dropped;
  {
    GlobalGuard hold;
    auto connections = processWide<ThreadConnections>();
    auto found = connections->byThread.find(std::this_thread::get_id());
    if (found == connections->byThread.end()) return;
    dropped = std::move(found->second);
    connections->byThread.erase(found);
  }
  // `dropped` closes the connection here, outside the lock, if it was the last holder.
}

}  // namespace Quorvel
