// The database holds passwords and cards: a first start creates it owner-only,
// and a later start narrows one that others could read.
#include "store/DatabaseFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

mode_t modeOf(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class DatabaseFileTest : public StoreFixture {
 protected:
  void SetUp() override {
    saved_ = ::umask(0);  // the most careless session: nothing masked
    StoreFixture::SetUp();
  }
  void TearDown() override {
    StoreFixture::TearDown();
    ::umask(saved_);
  }
  mode_t saved_ = 0;
};

TEST_F(DatabaseFileTest, ACopyOfTheTemplateIsOwnerOnlyAndAnOpenDatabaseIsNarrowed) {
  // SetUp made the database from the template (readable by all).
  EXPECT_EQ(modeOf(dbPath()), 0600u);
  EXPECT_EQ(count("select count(*) as `num` from `sys_config`"), 0);  // a whole, working copy

  ::chmod(dbPath().c_str(), 0644);
  std::ofstream(dbPath() + "-wal") << "";
  ::chmod((dbPath() + "-wal").c_str(), 0666);
  EXPECT_FALSE(prepareDatabaseFile());  // never replaced ...
  EXPECT_EQ(modeOf(dbPath()), 0600u);   // ... but narrowed, journals too
  EXPECT_EQ(modeOf(dbPath() + "-wal"), 0600u);
  EXPECT_FALSE(std::filesystem::exists(dbPath() + "-journal"));
}

TEST_F(DatabaseFileTest, AnEmptyDatabaseIsMadeAgainFromTheTemplateWithoutItsStaleLog) {
  releaseDb();
  std::filesystem::resize_file(dbPath(), 0);
  std::ofstream(dbPath() + "-wal") << "a log of a database that is gone";
  std::ofstream(dbPath() + "-shm") << "shared memory of it";
  EXPECT_TRUE(prepareDatabaseFile());
  EXPECT_FALSE(std::filesystem::exists(dbPath() + "-wal"));
  EXPECT_FALSE(std::filesystem::exists(dbPath() + "-shm"));
  EXPECT_EQ(modeOf(dbPath()), 0600u);
  // The tables are there again: the card page that failed with "no such
  // table" now reads an empty stock.
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);

  // A database with content is never taken for an empty one.
  getDb()->exec("insert into `items` (`cg_id`) values (3)");
  releaseDb();
  EXPECT_FALSE(prepareDatabaseFile());
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 1);
}

}  // namespace
}  // namespace Quorvel
