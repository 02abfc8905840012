// A connection kept for many pieces of work: its statement cache, the reset
// between two pieces, the write-ahead log and the durable commit.
#include <sqlite3.h>

#include <fstream>
#include <numeric>

#include "tests/store/SyncCountingVfs.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

Db& connection(const std::shared_ptr<IDb>& db) { return dynamic_cast<Db&>(*db); }

class ConnectionTest : public StoreFixture {
 protected:
  // Cards 1..n in category 1.
  void addCards(int n) {
    for (int i = 0; i < n; ++i) getDb()->exec("insert into `items` (`cg_id`) values (1)");
  }

  std::vector<int> ids(const std::shared_ptr<IDbResult>& rows) {
    std::vector<int> read;
    while (rows->next()) read.push_back(rows->intAt(0));
    return read;
  }

  // A connection that gives up at once on a lock (another thread's view).
  std::shared_ptr<IDb> impatientConnection() {
    Env env = ThreadConnections::instance()->env();
    auto options = env.get<DatabaseOptions>();
    changeDatabaseOptions([](DatabaseOptions& changed) { changed.busyTimeout = std::chrono::milliseconds(0); });
    auto other = otherConnection();
    env.set(options);
    return other;
  }
};

TEST_F(ConnectionTest, ALockWaitPausesOnItsClockAndGivesUpWhenTheTimeoutHasPassedThere) {
  auto clock = std::make_shared<testing::FakeClock>(1'700'000'000);
  testing::useDatabaseClock(clock);
  changeDatabaseOptions([&](DatabaseOptions& changed) { changed.busyTimeout = std::chrono::milliseconds(5000); });
  auto holder = otherConnection();
  holder->begin();  // holds the write lock
  auto waiting = otherConnection();
  try {
    waiting->exec("insert into `items` (`cg_id`) values (1)");
    ADD_FAILURE() << "the write got through a held lock";
  } catch (DbException e) {
    EXPECT_EQ(e.code() & 0xFF, SQLITE_BUSY);
  }
  // Five seconds of pauses on the clock, none of them waited for in real
  // time, and not one millisecond more.
  const std::vector<std::int64_t> pauses = clock->millisPauses();
  ASSERT_FALSE(pauses.empty());
  EXPECT_EQ(std::accumulate(pauses.begin(), pauses.end(), std::int64_t{0}), 5000);
  holder->rollback();
}

TEST_F(ConnectionTest, ARepeatedStatementComesFromTheCacheWithItsBindingsCleared) {
  Db& db = connection(getDb());
  const std::size_t before = db.cachedStatements();
  const std::string text = "select ? as `v`";
  {
    auto rows = db.query(std::make_shared<SQL>(text)->bind(5));
    EXPECT_EQ((*rows->fetch())["v"].toInt(), 5);
  }
  EXPECT_EQ(db.cachedStatements(), before + 1);
  {
    auto rows = db.query(std::make_shared<SQL>(text));
    EXPECT_EQ(db.cachedStatements(), before);  // taken out while the cursor lives
    EXPECT_TRUE((*rows->fetch())["v"].isEmpty()) << "a value bound by the last user came along";
  }
  EXPECT_EQ(db.cachedStatements(), before + 1);
  EXPECT_EQ(db.statementsInUse(), 0);
}

TEST_F(ConnectionTest, ANestedQueryOfTheSameTextGetsItsOwnStatement) {
  addCards(3);
  auto db = getDb();
  const std::string text = "select `id` from `items` order by `id`";
  auto outer = db->query(text);
  ASSERT_TRUE(outer->next());
  EXPECT_EQ(outer->intAt(0), 1);
  EXPECT_EQ(ids(db->query(text)), (std::vector<int>{1, 2, 3}));
  // Drop the inner cursor, then run the text once more: still not the outer's statement.
  EXPECT_EQ(ids(db->query(text)), (std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(outer->next());
  EXPECT_EQ(outer->intAt(0), 2);
  ASSERT_TRUE(outer->next());
  EXPECT_EQ(outer->intAt(0), 3);
  EXPECT_FALSE(outer->next());
}

TEST_F(ConnectionTest, TheCacheKeepsOnlyTheMostRecentlyUsedStatements) {
  changeDatabaseOptions([](DatabaseOptions& options) { options.statementCacheSize = 3; });
  releaseDb();
  Db& db = connection(getDb());
  for (int i = 0; i < 10; ++i) db.query("select " + std::to_string(i))->next();
  EXPECT_EQ(db.cachedStatements(), 3u);
  // The last three are kept: running them takes them out one by one.
  auto seven = db.query("select 7");
  auto eight = db.query("select 8");
  auto nine = db.query("select 9");
  EXPECT_EQ(db.cachedStatements(), 0u);
}

TEST_F(ConnectionTest, ClosingFinalizesEveryStatementCachedOrStillInACursor) {
  const sqlite3_int64 baseline = sqlite3_memory_used();
  {
    auto db = std::make_shared<Db>(Env(), dbPath())->connect();
    for (int i = 0; i < 20; ++i) db->query("select " + std::to_string(i) + " from `items`")->next();
    auto kept = db->query("select * from `category`");
    kept->next();
    db->close();
    EXPECT_EQ(connection(db).cachedStatements(), 0u);
    // The cursor's statement ends with the cursor; the handle closes then.
  }
  // A statement left unfinalized would keep the whole connection in memory.
  EXPECT_LE(sqlite3_memory_used(), baseline + 1024);
}

TEST_F(ConnectionTest, ResetRollsBackWhatTheLastWorkLeftOpen) {
  auto db = getDb();
  db->begin();
  db->exec("insert into `items` (`cg_id`) values (5)");
  resetDbForNextAction();

  auto other = impatientConnection();
  other->exec("insert into `items` (`cg_id`) values (6)");  // no lock left behind
  EXPECT_EQ(ids(other->query("select `cg_id` from `items`")), std::vector<int>{6});
  EXPECT_EQ(getDb(), db);  // the same connection, kept
  EXPECT_NO_THROW(db->begin());  // no transaction is open any more
  db->rollback();
}

TEST_F(ConnectionTest, ResetEndsEveryCursorsReadAndTheNextWorkSeesOtherCommits) {
  addCards(2);
  auto db = getDb();
  auto left = db->query("select `id` from `items` order by `id`");
  ASSERT_TRUE(left->next());  // a cursor left midway keeps its read open
  EXPECT_EQ(connection(db).statementsInUse(), 1);

  auto other = impatientConnection();
  other->exec("insert into `items` (`cg_id`) values (1)");
  // Without a reset the connection still reads its old snapshot.
  EXPECT_EQ(ids(db->query("select count(*) from `items`")), std::vector<int>{2});

  resetDbForNextAction();
  EXPECT_EQ(connection(db).statementsInUse(), 0);
  EXPECT_EQ(ids(db->query("select count(*) from `items`")), std::vector<int>{3});
  // The old cursor starts over rather than read a stale position.
  EXPECT_EQ(ids(left), (std::vector<int>{1, 2, 3}));
}

TEST_F(ConnectionTest, TheLiveFileWritesAheadAndOpensInPlainSqlite) {
  auto db = getDb();
  EXPECT_TRUE(connection(db).writeAheadLog());
  EXPECT_EQ((*db->query("pragma journal_mode")->fetch())["journal_mode"].toString(), "wal");
  EXPECT_EQ((*db->query("pragma synchronous")->fetch())["synchronous"].toInt(), 1);  // NORMAL
  db->exec("insert into `items` (`cg_id`) values (3)");

  // Any SQLite reader (the sqlite3 tool) opens it, while the program has it open.
  sqlite3* plain = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dbPath().c_str(), &plain, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(plain, "select count(*) from `items`", -1, &count, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 1);
  sqlite3_finalize(count);
  sqlite3_close(plain);

  // The template stays a rollback-journal file.
  sqlite3* tpl = nullptr;
  ASSERT_EQ(sqlite3_open_v2(QUORVEL_TEMPLATE_DB, &tpl, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* mode = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(tpl, "pragma journal_mode", -1, &mode, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "delete");
  sqlite3_finalize(mode);
  sqlite3_close(tpl);
}

TEST_F(ConnectionTest, AWriterCommitsWhileAReaderIsMidway) {
  addCards(2);
  auto reader = getDb();
  auto rows = reader->query("select `id` from `items`");
  ASSERT_TRUE(rows->next());
  // With a rollback journal this commit would wait for the reader's lock.
  EXPECT_NO_THROW(impatientConnection()->exec("insert into `items` (`cg_id`) values (1)"));
}

TEST_F(ConnectionTest, ATransactionThatReadsFirstKeepsItsWrites) {
  auto db = getDb();
  db->begin();
  EXPECT_EQ(ids(db->query("select count(*) from `items`")), std::vector<int>{0});
  // Another connection's commit in between would outdate the read: it waits instead.
  EXPECT_THROW(impatientConnection()->exec("insert into `items` (`cg_id`) values (1)"), DbException);
  EXPECT_NO_THROW(db->exec("insert into `items` (`cg_id`) values (2)"));
  db->commit();
  EXPECT_EQ(ids(db->query("select `cg_id` from `items`")), std::vector<int>{2});
}

TEST_F(ConnectionTest, WithoutTheLogEveryCommitIsFullySynced) {
  changeDatabaseOptions([](DatabaseOptions& options) { options.writeAheadLog = false; });
  releaseDb();
  auto db = getDb();
  EXPECT_FALSE(connection(db).writeAheadLog());
  EXPECT_EQ((*db->query("pragma journal_mode")->fetch())["journal_mode"].toString(), "delete");
  EXPECT_EQ((*db->query("pragma synchronous")->fetch())["synchronous"].toInt(), 2);  // FULL
}

TEST_F(ConnectionTest, OnlyADurableCommitSyncsTheLog) {
  testing::SyncCountingVfs vfs;  // counts syncs of every file opened from here on
  releaseDb();
  auto db = getDb();
  ASSERT_TRUE(connection(db).writeAheadLog());
  db->exec("insert into `items` (`cg_id`) values (1)");  // the log's first write syncs its header

  const int before = vfs.logSyncs();
  db->begin();
  db->exec("insert into `items` (`cg_id`) values (2)");
  db->commit();
  EXPECT_EQ(vfs.logSyncs(), before) << "an ordinary commit waited for the disk";

  db->begin();
  db->exec("insert into `items` (`cg_id`) values (3)");
  db->commitDurable();
  EXPECT_GT(vfs.logSyncs(), before);
  releaseDb();
}

TEST_F(ConnectionTest, ADurableCommitWithoutTheLogIsTheSyncedCommit) {
  changeDatabaseOptions([](DatabaseOptions& options) { options.writeAheadLog = false; });
  testing::SyncCountingVfs vfs;
  releaseDb();
  auto db = getDb();
  db->begin();
  db->exec("insert into `items` (`cg_id`) values (1)");
  db->commitDurable();
  EXPECT_GT(vfs.databaseSyncs(), 0);
  EXPECT_EQ(ids(otherConnection()->query("select count(*) from `items`")), std::vector<int>{1});
  releaseDb();
}

TEST_F(ConnectionTest, AFreshCopyIgnoresTheLogOfADatabaseThatIsGone) {
  // A log with committed rows of another database, left where the live
  // database was removed.
  {
    auto old = getDb();
    old->exec("pragma wal_autocheckpoint=0");
    old->exec("insert into `items` (`cg_id`) values (42)");
    std::filesystem::copy_file(dbPath() + "-wal", dir_ / "stale-wal");
  }
  releaseDb();
  std::filesystem::remove(dbPath());
  std::filesystem::copy_file(dir_ / "stale-wal", dbPath() + "-wal");

  ASSERT_TRUE(prepareDatabaseFile());
  EXPECT_FALSE(std::filesystem::exists(dbPath() + "-wal"));
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);
  EXPECT_EQ((*getDb()->query("pragma integrity_check")->fetch())["integrity_check"].toString(), "ok");
}

}  // namespace
}  // namespace Quorvel
