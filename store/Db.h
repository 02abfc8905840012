// IDb / Db / SqliteDb: one connection to the program's SQLite database, and
// getDb / releaseDb / resetDbForNextAction, which hand each thread its own
// connection from the process-wide pool (store/ThreadConnections.h) and keep
// it clean between two pieces of work.
//
// A connection knows the Env it was opened in: its DatabaseOptions
// (store/DatabaseFile.h) name the file and how it waits, its clock times the
// wait, and the stores stamp what they write through it with that clock.
//
// A connection and the cursors it hands out belong to the thread that got it
// from getDb; several threads share the database file only through their own
// connections. Every connection waits up to the busy timeout of its Env's
// DatabaseOptions for another connection's lock before
// a statement fails with SQLITE_BUSY. Every failure is a DbException carrying
// SQLite's message and result code.
//
// A connection keeps the statements it prepared (StatementCache, keyed by
// SQL text), so a statement run again is not prepared again. It opens the
// file in write-ahead-log mode when the options ask for it (the default):
// readers and the one writer then do not wait for each other, and ordinary
// commits are written but not synced (a process crash loses nothing
// committed; a power loss may lose the last commits). commitDurable() syncs.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Env.h"
#include "store/DbException.h"
#include "store/DbResult.h"
#include "store/Sql.h"
#include "store/StatementCache.h"
#include "store/Value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Quorvel {

class IDb {
 public:
  virtual ~IDb() = default;

  virtual std::shared_ptr<IDb> getPtr() = 0;
  // The Env the connection was opened in (its options, its clock).
  virtual const Env& env() const = 0;
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
  // Opens a transaction holding the write lock from the start, so that
  // reading before writing inside it cannot fail the write.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  // Commits the open transaction and returns only once it is on the disk
  // (survives a power loss), whatever the connection's sync level.
  virtual void commitDurable() = 0;
  // Leaves the connection as the next piece of work expects a fresh one:
  // every statement a cursor still holds is reset (the cursor then starts
  // over), an open transaction is rolled back, and so no snapshot or lock of
  // the finished work is kept: the next statement sees every change other
  // connections committed.
  virtual void resetForNextAction() = 0;
};

class Db : public IDb, public std::enable_shared_from_this<Db> {
 public:
  // A connection to the file of the Env's DatabaseOptions, or to `path`,
  // with the Env's options and clock. Does not open the file yet: call
  // open() or connect().
  explicit Db(Env env);
  Db(Env env, std::string path);
  ~Db() override;
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  std::shared_ptr<IDb> getPtr() override;
  const Env& env() const override { return env_; }
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
  void commitDurable() override;
  void resetForNextAction() override;

  const std::string& path() const { return path_; }
  // Whether the file is in write-ahead-log mode ("wal").
  bool writeAheadLog() const { return writeAheadLog_; }
  // Statements kept for reuse, and statements a cursor has stepped and not
  // yet reset (for tests).
  std::size_t cachedStatements() const { return statements_->size(); }
  int statementsInUse() const;

 private:
  // Journal mode and sync level of a just opened connection.
  void configure();
  // The statement for `text`: a kept one, or a freshly prepared one (null for
  // a text without a statement). `rest` receives the text after the first
  // statement; `keep` whether the statement may go back to the cache.
  sqlite3_stmt* prepare(std::string_view text, std::string_view* rest, bool* keep);
  std::shared_ptr<DbResult> cursor(sqlite3_stmt* statement, bool keep);

  // SQLite's busy handler: pauses a little on the Env's clock and asks
  // for another try until the busy timeout has passed on it since the first
  // refusal.
  static int onBusy(void* self, int attempts);

  const Env env_;
  sqlite3* handle_ = nullptr;  // null while closed
  std::string path_;
  bool wantWriteAheadLog_;
  bool writeAheadLog_ = false;
  std::shared_ptr<StatementCache> statements_;
  std::chrono::milliseconds busyTimeout_;
  std::function<void(int attempts)> busyObserver_;
  Clock::Instant busySince_;      // first refusal of the current wait
};

// The connection to the database file of the Env's options, opened at once.
class SqliteDb : public Db {
 public:
  explicit SqliteDb(Env env);
  ~SqliteDb() override;
};

// The calling thread's connection from the process-wide pool
// (ThreadConnections::instance()->get()), opened on its first call and again
// after releaseDb. Open failures raise DbException.
std::shared_ptr<IDb> getDb();

// Drops the calling thread's connection; it closes once the last holder
// (a cursor, a caller's copy) lets go.
void releaseDb();

// After each piece of work (a web action, a daemon tick): resets the calling
// thread's connection, if it has one, for the next piece (resetForNextAction);
// a connection that cannot be reset is dropped instead, so the next getDb
// opens a fresh one. Never raises.
void resetDbForNextAction();

}  // namespace Quorvel
