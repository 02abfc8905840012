// ThreadConnections: the pool that hands each thread its own connection to
// the program's database, all opened in one Env: the Env's DatabaseOptions
// (store/DatabaseFile.h) say which file and how a connection waits, and its
// clock times that wait and stamps the stores' rows. getDb, releaseDb
// and resetDbForNextAction (store/Db.h) are the calls of the process-wide
// pool, and the database file's own paths (databasePath, templatePath) are
// its Env's.
//
// The program installs its pool once in app/main.cpp, built on the
// program's Env, before any connection opens; a test that needs its own
// database file, options or clock installs one built on its own Env
// (installProcessWide<ThreadConnections>). Without one, the first use builds
// a pool on a default Env (the system clock, the default options).
//
// Any thread may call any operation. The map has a lock of its own, held for
// the lookup (and a first open) only, so that a thread holding the global
// lock through a long outside exchange (a login) keeps no other thread from
// its connection. A test's resetProcessWide drops the pool with every
// connection in it.
#pragma once

#include <map>
#include <memory>
#include <thread>

#include "base/Env.h"
#include "base/Mutex.h"

namespace Quorvel {

class IDb;

class ThreadConnections {
 public:
  // The process-wide pool.
  static std::shared_ptr<ThreadConnections> instance();
  static std::shared_ptr<ThreadConnections> makeProcessWide();

  explicit ThreadConnections(Env env);
  ThreadConnections(const ThreadConnections&) = delete;
  ThreadConnections& operator=(const ThreadConnections&) = delete;

  // The Env every connection of the pool is opened in.
  const Env& env() const { return env_; }

  // The calling thread's connection, opened on its first call and again
  // after release. Open failures raise DbException.
  std::shared_ptr<IDb> get();
  // Drops the calling thread's connection; it closes once the last holder
  // (a cursor, a caller's copy) lets go.
  void release();
  // Resets the calling thread's connection, if it has one, for the next
  // piece of work (IDb::resetForNextAction); one that cannot be reset is
  // dropped, so that the next get opens a fresh one. Never raises.
  void resetForNextAction();

 private:
  const Env env_;
  Mutex mutex_;
  std::map<std::thread::id, std::shared_ptr<IDb>> byThread_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
