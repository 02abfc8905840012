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

}  // namespace
}  // namespace Quorvel
