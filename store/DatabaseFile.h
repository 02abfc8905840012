// Where the program's database and its template live, how long a connection
// waits for another one's lock, and the start-up rule that creates the live
// database from the template.
//
// The options are an entry of the Env the connections are opened in
// (env.get<DatabaseOptions>()): the program keeps the defaults
// ("vendara2012.db" and "tpl/vendara2012.db", relative to the working
// directory, and a 5-second wait); a test sets its own in the Env of its
// connection pool (store/ThreadConnections.h) before any connection opens.
// Options are never changed in place: a new object is set. Any thread may
// read them. The functions below work on the file of the process-wide
// pool's Env.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace Quorvel {

class Clock;

struct DatabaseOptions {
  std::string path = "vendara2012.db";
  std::string templatePath = "tpl/vendara2012.db";
  // How long a statement waits for another connection's lock before it fails
  // with SQLITE_BUSY; given to connections when they open.
  std::chrono::milliseconds busyTimeout{5000};
  // For tests: called on the waiting thread, with the number of earlier
  // tries, each time a connection meets another connection's lock and waits.
  std::function<void(int attempts)> busyObserver;
  // Whether connections switch the file to write-ahead-log mode when they
  // open it (see store/Db.h); a file already in that mode stays in it.
  bool writeAheadLog = true;
  // How many unused prepared statements each connection keeps for reuse.
  std::size_t statementCacheSize = 64;
};

// The paths of the process-wide pool's options.
std::string databasePath();
std::string templatePath();

// The clock of the process-wide pool's Env: what stamps the work done on the
// database file as a whole (the names of its copies), as a connection's
// Env's clock stamps its rows.
std::shared_ptr<Clock> databaseClock();

// Run once at start-up, before anything touches the database: when the live
// database is missing or empty (0 bytes), copies the template to it and
// returns true (a log or journal file left behind by a database that is gone
// is removed first). An
// existing database is never replaced (returns false). A failed copy raises
// std::filesystem::filesystem_error. The database holds passwords and cards:
// a copy is owner-only from its creation, and an existing database (and its
// journals) that other users could read is narrowed to owner-only.
bool prepareDatabaseFile();

// Run at start-up after prepareDatabaseFile, before the threads start (and
// by the stores that need them, before their first use): adds to the live
// database the tables and indexes that a database made from an older
// template lacks (the order log; the indexes of the card import's duplicate
// check and of the overview's orders by day), through a connection of its
// own. A database that has them is not written. Raises DbException when they
// cannot be added. Indexing a large stock the first time takes a while
// (about a second per million cards).
void upgradeDatabase();

}  // namespace Quorvel
