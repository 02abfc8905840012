#include "store/SafeMode.h"

#include <filesystem>
#include <system_error>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "store/Backups.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/ThreadConnections.h"

namespace Quorvel {

std::shared_ptr<SafeMode> SafeMode::instance() { return processWide<SafeMode>(); }

namespace fs = std::filesystem;

namespace {

// Whether the database holds anything worth a copy: a database fresh from
// the template (a first start, or a start after safe mode without a
// restore) would only push older, useful copies out of the folder.
bool holdsData() {
  auto db = std::make_shared<Db>(ThreadConnections::instance()->env());
  db->open();
  auto rows = db->query("select (exists(select 1 from `items`) or exists(select 1 from `orders`)) as `num`");
  return rows->next() && (*rows->fetch())["num"].toInt() != 0;
}

// The stand-in database gets the settings of the newest good copy, so that
// the program reaches the same maker's service and marketplace hosts (the
// page is served from there) while the seller restores.
void carryOverSettings() {
  const std::string newest = Backups::instance()->newest();
  if (newest.empty()) return;
  std::string path = (Backups::folder() / newest).string();
  std::string quoted;
  for (char c : path) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  auto db = std::make_shared<Db>(ThreadConnections::instance()->env());
  db->open();
  db->exec("attach database '" + quoted + "' as `good`");
  try {
    db->begin();
    db->exec("delete from main.`sys_config`; insert into main.`sys_config` (`key`, `value`) "
             "select `key`, `value` from `good`.`sys_config`");
    db->commit();
  } catch (Exception) {
    db->rollback();
    db->exec("detach database `good`");
    throw;
  }
  db->exec("detach database `good`");
}

}  // namespace

std::string SafeMode::checkAtStart() {
  const fs::path live = databasePath();
  std::string detail;
  if (!Backups::isDamaged(live, &detail)) {
    try {
      if (!holdsData()) return std::string();
      const BackupCopy copy = Backups::instance()->takeNow();
      return gbk("启动备份：") + (Backups::folder() / copy.name).string();
    } catch (Exception e) {
      return gbk("启动时没能备份数据库：") + e.message();
    }
  }
  // Never written from here on: moved aside whole, with the log that
  // belongs to it (replayed into the fresh copy it would damage that too).
  const std::string keptAs = live.string() + ".damaged-" + utcStamp(databaseClock()->now());
  std::error_code ec;
  fs::rename(live, keptAs, ec);
  if (ec) throw Exception(gbk("数据库文件已损坏，且无法改名保存：") + ec.message());
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    std::error_code ignored;
    if (fs::exists(live.string() + suffix, ignored)) fs::rename(live.string() + suffix, keptAs + suffix, ignored);
  }
  prepareDatabaseFile();
  std::string told;
  try {
    carryOverSettings();
  } catch (Exception e) {
    told = gbk("没能从最新的备份取回设置：") + e.message() + "\n";
  }
  enter(keptAs, detail);
  return told + message();
}

void SafeMode::enter(const std::string& keptAs, const std::string& detail) {
  MutexLock hold(mutex_);
  keptAs_ = keptAs;
  detail_ = detail;
  damaged_.store(true);
}

void SafeMode::leave() {
  MutexLock hold(mutex_);
  damaged_.store(false);
}

std::string SafeMode::keptAs() const {
  MutexLock hold(mutex_);
  return keptAs_;
}

std::string SafeMode::message() const {
  if (!damaged_.load()) return std::string();
  std::string kept;
  {
    MutexLock hold(mutex_);
    kept = keptAs_;
  }
  const std::string newest = Backups::instance()->newest();
  std::string text = gbk("数据库文件已损坏，已原样另存为 ") + kept +
                     gbk("。程序在安全模式下运行：自动发货已停止，现在使用的是一个空数据库（设置取自最新的备份）。");
  text += newest.empty() ? gbk("没有找到完好的备份。")
                         : gbk("请在“维护”中从备份恢复，最新的完好备份是 ") + newest + gbk("。");
  return text;
}

}  // namespace Quorvel
