// IDb / Db / SqliteDb: one connection to the program's SQLite database, and
// getDb / releaseDb, which hand each thread its own connection.
//
// A connection and the cursors it hands out belong to the thread that got it
// from getDb; several threads share the database file only through their own
// connections. Every connection waits up to the busy timeout of the
// DatabaseOptions (store/DatabaseFile.h) for another connection's lock before
// a statement fails with SQLITE_BUSY. Every failure is a DbException carrying
// SQLite's message and result code.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "store/DbException.h"
#include "store/DbResult.h"
#include "store/Sql.h"
#include "store/Value.h"

struct sqlite3;

namespace Quorvel {

class IDb {
 public:
  virtual ~IDb() = default;

  virtual std::shared_ptr<IDb> getPtr() = 0;
  virtual void open() = 0;
  // Runs one or more `;`-separated statements without bound values.
  virtual std::shared_ptr<IDb> exec(const std::string& sql) = 0;
  // Runs a statement to its first step and drops the cursor.
  virtual std::shared_ptr<IDb> execute(const std::shared_ptr<ISQL>& sql) = 0;
  virtual std::shared_ptr<IDbResult> query(const std::string& sql) = 0;
  // Prepares the statement and binds its values; the cursor is not stepped yet.
  virtual std::shared_ptr<IDbResult> query(const std::shared_ptr<ISQL>& sql) = 0;
  // Low 32 bits of the row id of this connection's last insert.
  virtual int lastInsertId() = 0;
  virtual std::shared_ptr<IDb> connect() = 0;
  virtual void close() = 0;
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
};

class Db : public IDb, public std::enable_shared_from_this<Db> {
 public:
  // Does not open the file yet: call open() or connect().
  explicit Db(std::string path);
  ~Db() override;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  std::shared_ptr<IDb> getPtr() override;
  void open() override;
  std::shared_ptr<IDb> exec(const std::string& sql) override;
  std::shared_ptr<IDb> execute(const std::shared_ptr<ISQL>& sql) override;
  std::shared_ptr<IDbResult> query(const std::string& sql) override;
  std::shared_ptr<IDbResult> query(const std::shared_ptr<ISQL>& sql) override;
  int lastInsertId() override;
  std::shared_ptr<IDb> connect() override;
  void close() override;
  void begin() override;
  void commit() override;
  void rollback() override;

  const std::string& path() const { return path_; }

 private:
  // SQLite's busy handler: sleeps a little and asks for another try until
  // the busy timeout has passed since the first refusal.
  static int onBusy(void* self, int attempts);

  sqlite3* handle_ = nullptr;  // null while closed
  std::string path_;
  std::chrono::milliseconds busyTimeout_;
  std::function<void(int attempts)> busyObserver_;
  std::chrono::steady_clock::time_point busySince_;  // first refusal of the current wait
};

// The connection to the program's database file (databasePath()), opened at
// once.
class SqliteDb : public Db {
 public:
  SqliteDb();
  ~SqliteDb() override;
};

// The calling thread's connection, opened on its first call and again after
// releaseDb. Open failures raise DbException. Takes the global lock. The
// connections of all threads are one process-wide object, so a test's
// resetProcessWide drops them all.
std::shared_ptr<IDb> getDb();

// Drops the calling thread's connection; it closes once the last holder
// (a cursor, a caller's copy) lets go. Takes the global lock.
void releaseDb();

}  // namespace Quorvel
