// Copies of the live database in backup/: made with the online backup, owner
// only, one file each that the sqlite3 tool reads, pruned to the newest
// `backup_keep`; a copy that cannot be written (full disk) leaves the older
// ones and no partial file. The start-up check: a damaged file is kept
// unwritten and gives safe mode; a sound one is copied first (unless it is
// empty). A restore writes a copy's content back under open connections.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "store/Backups.h"
#include "store/SafeMode.h"
#include "store/StorageHealth.h"
#include "tests/store/FullDiskVfs.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kNow = 1'767'225'600;  // 2026-01-01 00:00:00 UTC

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BackupsTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    storageHealth().noteWriteWorked();
  }
  void TearDown() override {
    storageHealth().noteWriteWorked();
    StoreFixture::TearDown();
  }

  // `n` cards in one new category, one of them delivered, and an order.
  int stock(int n) {
    const int cg = addCategory("cards");
    getDb()->begin();
    for (int k = 0; k < n; ++k) addCard(cg, "card " + std::to_string(k), "pw", k == 0 ? "sent" : "");
    getDb()->exec("insert into `orders` (`order_id`, `status`) values ('77', 2)");
    getDb()->commit();
    return cg;
  }

  std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const BackupCopy& copy : backups_->list()) found.push_back(copy.name);
    return found;
  }

  std::shared_ptr<testing::FakeClock> clock_ = std::make_shared<testing::FakeClock>(kNow);
  std::shared_ptr<Backups> backups_ = std::make_shared<Backups>();
  // Made by a test before it opens connections; outlives them (they close
  // in TearDown).
  std::unique_ptr<testing::FullDiskVfs> disk_;
};

TEST_F(BackupsTest, ACopyIsOneCheckedPrivateFileListedWithItsCounts) {
  stock(5);
  const BackupCopy copy = backups_->takeNow();
  EXPECT_EQ(copy.name, "vendara2012-20260101-000000.db");
  const fs::path file = dir_ / "backup" / copy.name;
  ASSERT_TRUE(fs::is_regular_file(file));
  struct stat status;
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_FALSE(fs::exists(file.string() + "-wal")) << "a single file, no log beside it";
  // What a seller restoring by hand sees with the sqlite3 tool.
  EXPECT_EQ(run("sqlite3 '" + file.string() + "' 'pragma integrity_check'"), "ok");
  EXPECT_EQ(run("sqlite3 '" + file.string() + "' 'pragma journal_mode'"), "delete");
  EXPECT_EQ(run("sqlite3 '" + file.string() + "' 'select count(*) from items'"), "5");

  const std::vector<BackupCopy> listed = backups_->list();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].time, kNow);
  EXPECT_EQ(listed[0].cards, 5);
  EXPECT_EQ(listed[0].unsentCards, 4);
  EXPECT_EQ(listed[0].orders, 1);
  EXPECT_EQ(listed[0].size, fs::file_size(file));
}

TEST_F(BackupsTest, PruningKeepsTheNewestCopiesAndNothingElseIsTouched) {
  stock(2);
  SystemConfig::instance()->set(getDb(), "backup_keep", "3");
  fs::create_directories(dir_ / "backup");
  std::ofstream(dir_ / "backup" / "notes.txt") << "mine";
  std::ofstream(dir_ / "backup" / "vendara2012-2026-broken.db") << "not a copy name";
  for (int k = 0; k < 5; ++k) {
    backups_->takeNow();
    clock_->advance(3600);
  }
  // Two in the same second: the later one gets "-2" and counts as newer.
  clock_->advance(-3600);
  backups_->takeNow();
  EXPECT_EQ(names(), (std::vector<std::string>{"vendara2012-20260101-040000-2.db", "vendara2012-20260101-040000.db",
                                               "vendara2012-20260101-030000.db"}));
  EXPECT_TRUE(fs::exists(dir_ / "backup" / "notes.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "backup" / "vendara2012-2026-broken.db"));
  EXPECT_EQ(backups_->newest(), "vendara2012-20260101-040000-2.db");

  // A keep below 1 still keeps the newest.
  SystemConfig::instance()->set(getDb(), "backup_keep", "0");
  EXPECT_EQ(Backups::keepSetting(), 1);
  SystemConfig::instance()->set(getDb(), "backup_keep", "");
  EXPECT_EQ(Backups::keepSetting(), 7);
}

TEST_F(BackupsTest, ACopyIsDueEveryIntervalUnlessTheIntervalIsZero) {
  EXPECT_FALSE(Backups::isDue(kNow, kNow + 24 * 3600 - 1));
  EXPECT_TRUE(Backups::isDue(kNow, kNow + 24 * 3600));
  SystemConfig::instance()->set(getDb(), "backup_interval_hours", "2");
  EXPECT_TRUE(Backups::isDue(kNow, kNow + 7200));
  SystemConfig::instance()->set(getDb(), "backup_interval_hours", "0");
  EXPECT_FALSE(Backups::isDue(kNow, kNow + 365 * 24 * 3600));
}

TEST_F(BackupsTest, NamesAreCheckedStrictly) {
  std::int64_t time = 0;
  EXPECT_TRUE(Backups::isCopyName("vendara2012-20260101-000000.db", &time));
  EXPECT_EQ(time, kNow);
  EXPECT_TRUE(Backups::isCopyName("vendara2012-20261231-235959-12.db"));
  for (const char* bad : {"../vendara2012-20260101-000000.db", "vendara2012-20261301-000000.db",
                          "vendara2012-20260101-246000.db", "vendara2012-20260101-000000.db-wal",
                          "vendara2012-20260101-000000-.db", "x/vendara2012-20260101-000000.db", ""}) {
    EXPECT_FALSE(Backups::isCopyName(bad)) << bad;
  }
}

TEST_F(BackupsTest, ACopyTheDiskCannotTakeLeavesTheOlderCopiesAndNoPartialFile) {
  disk_ = std::make_unique<testing::FullDiskVfs>();
  testing::FullDiskVfs& disk = *disk_;
  stock(3);
  const BackupCopy good = backups_->takeNow();
  clock_->advance(60);
  disk.setFull(true);
  try {
    backups_->takeNow();
    ADD_FAILURE() << "a copy on a full disk must fail";
  } catch (Exception e) {
    EXPECT_NE(e.message().find(gbk("备份没有完成")), std::string::npos) << gbkToUtf8(e.message());
  }
  disk.setFull(false);
  EXPECT_GT(disk.refused(), 0);
  EXPECT_EQ(names(), std::vector<std::string>{good.name});
  for (const auto& entry : fs::directory_iterator(dir_ / "backup")) {
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
  }
}

TEST_F(BackupsTest, ARestoreWritesTheCopyIntoTheLiveFileUnderOpenConnections) {
  const int cg = stock(3);
  const BackupCopy copy = backups_->takeNow();
  std::shared_ptr<IDb> other = otherConnection();
  addCard(cg, "added after the copy", "");
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 4);
  resetDbForNextAction();
  backups_->restoreFrom(copy.name);
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 3) << "the test thread's connection sees it";
  auto rows = other->query("select count(*) as `num` from `items`");
  ASSERT_TRUE(rows->next());
  EXPECT_EQ((*rows->fetch())["num"].toInt(), 3) << "and so does a connection opened before";
  EXPECT_EQ(run("sqlite3 '" + dbPath() + "' 'pragma journal_mode'"), "wal") << "the live file keeps its log";

  EXPECT_THROW(backups_->restoreFrom("vendara2012-20250101-000000.db"), Exception);
  EXPECT_THROW(backups_->restoreFrom("../vendara2012.db"), Exception);
}

// The live file closed (every connection gone, the log folded in), then
// `length` bytes in the middle overwritten.
void damage(const fs::path& file, std::size_t length) {
  std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(static_cast<std::streamoff>(fs::file_size(file) / 2));
  out << std::string(length, '\x5A');
}

TEST_F(BackupsTest, ADamagedFileIsKeptUnwrittenAndGivesSafeModeNamingTheNewestCopy) {
  stock(800);
  SystemConfig::instance()->set(getDb(), "taobao_user", "seller1");
  const BackupCopy copy = backups_->takeNow();
  installProcessWide<Backups>(backups_);
  getDb()->exec("pragma wal_checkpoint(TRUNCATE)");
  resetProcessWide();  // every connection closed
  changeDatabaseOptions([&](DatabaseOptions& options) {
    options.path = dbPath();
    options.templatePath = QUORVEL_TEMPLATE_DB;
  });
  testing::useDatabaseWallTime(clock_);
  damage(dbPath(), 8192);
  const std::string damagedBytes = bytesOf(dbPath());

  SafeMode safe;
  const std::string told = safe.checkAtStart();
  EXPECT_TRUE(safe.damaged());
  const std::string kept = dbPath() + ".damaged-20260101-000000";
  EXPECT_EQ(safe.keptAs(), kept);
  EXPECT_EQ(bytesOf(kept), damagedBytes) << "kept exactly as found";
  EXPECT_NE(told.find(kept), std::string::npos);
  EXPECT_NE(told.find(copy.name), std::string::npos) << "the banner names the newest good copy";
  EXPECT_NE(told.find(gbk("安全模式")), std::string::npos);
  // The live file is a fresh one from the template: the server can answer.
  EXPECT_EQ(count("select count(*) as `num` from `items`"), 0);
  EXPECT_EQ(fileValue("select `value` from `sys_config` where `key`='taobao_user'"), "seller1")
      << "with the settings of the newest good copy";
  EXPECT_EQ(Backups::quickCheck(dbPath()), "ok");
  EXPECT_EQ(names(), std::vector<std::string>{copy.name}) << "no copy of the damaged file";
}

TEST_F(BackupsTest, ASoundFileIsCopiedAtStartUnlessItHoldsNothing) {
  SafeMode safe;
  EXPECT_EQ(safe.checkAtStart(), "");
  EXPECT_FALSE(safe.damaged());
  EXPECT_TRUE(Backups::instance()->list().empty()) << "a database fresh from the template is not copied";
  stock(1);
  const std::string told = safe.checkAtStart();
  EXPECT_FALSE(safe.damaged());
  EXPECT_EQ(Backups::instance()->list().size(), 1u);
  EXPECT_NE(told.find("vendara2012-20260101-000000.db"), std::string::npos);
}

}  // namespace
}  // namespace Quorvel
