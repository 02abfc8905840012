#include "store/Backups.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "port/PrivateFile.h"
#include "store/DatabaseFile.h"
#include "store/DbText.h"
#include "store/SystemConfig.h"

namespace Quorvel {

std::shared_ptr<Backups> Backups::instance() { return processWide<Backups>(); }

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = "vendara2012-";
constexpr const char* kSuffix = ".db";
constexpr int kBusyMillis = 10000;

// A connection of its own to `path` that never checkpoints a log into the
// file when it closes (a file being checked must not be written). Null
// with `error` set when the file cannot be opened.
sqlite3* openFile(const fs::path& path, int flags, std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyMillis);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  return db;
}

struct Closer {
  sqlite3* db;
  ~Closer() { sqlite3_close_v2(db); }
};

// One number from `sql`, -1 when it cannot be read.
int numberOf(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  int value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    value = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  return value;
}

[[noreturn]] void fail(const std::string& gbkWhat, const std::string& utf8Detail) {
  std::string detail = utf8Detail;
  try {
    detail = fromDbText(utf8Detail.data(), utf8Detail.size());
  } catch (Exception) {
  }
  throw Exception(gbkWhat + (detail.empty() ? std::string() : gbk("（") + detail + gbk("）")));
}


// Runs `backup` to its end: `pages` at a time with a pause between steps, or
// all at once (pages -1). A source written by another connection makes
// SQLite start the copy over at its next step; after the second start-over
// the rest goes in one step (with the write-ahead log that step only reads a
// snapshot and keeps no writer waiting), so a busy shop still gets its copy.
// Returns SQLite's last result code.
int runBackup(sqlite3_backup* backup, int pages) {
  int restarts = 0;
  int left = -1;
  // On the clock of the pauses, so that the pauses add up to the deadline.
  const std::shared_ptr<Clock> held = databaseClock();
  Clock& clock = *held;
  const Clock::Instant deadline = clock.monotonic() + std::chrono::milliseconds(kBusyMillis);
  for (;;) {
    int rc = sqlite3_backup_step(backup, pages);
    if (rc == SQLITE_DONE) return rc;
    if (rc != SQLITE_OK && rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return rc;
    if (rc != SQLITE_OK && clock.monotonic() > deadline) return rc;
    const int remaining = sqlite3_backup_remaining(backup);
    if (left >= 0 && remaining > left && ++restarts >= 2) pages = -1;
    left = remaining;
    clock.sleepForMillis(Backups::kPauseMillis, std::stop_token());
  }
}

}  // namespace

fs::path Backups::folder() { return fs::path(databasePath()).parent_path() / "backup"; }

bool Backups::isCopyName(const std::string& name, std::int64_t* time) {
  const std::string prefix = kPrefix, suffix = kSuffix;
  // prefix, 8 digits, "-", 6 digits, optionally "-" and 1 to 4 digits, suffix
  if (name.size() < prefix.size() + 15 + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) {
    return false;
  }
  const std::string body = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  auto digits = [&body](std::size_t from, std::size_t count) {
    if (from + count > body.size()) return false;
    return std::all_of(body.begin() + from, body.begin() + from + count, [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(0, 8) || body[8] != '-' || !digits(9, 6)) return false;
  if (body.size() != 15) {
    if (body.size() < 17 || body.size() > 19 || body[15] != '-' || !digits(16, body.size() - 16)) return false;
  }
  auto number = [&body](std::size_t from, std::size_t count) { return std::atoi(body.substr(from, count).c_str()); };
  using namespace std::chrono;
  const year_month_day date{year{number(0, 4)}, month{static_cast<unsigned>(number(4, 2))},
                            day{static_cast<unsigned>(number(6, 2))}};
  const int hours = number(9, 2), minutes = number(11, 2), seconds = number(13, 2);
  if (!date.ok() || hours > 23 || minutes > 59 || seconds > 59) return false;
  if (time) {
    *time = duration_cast<std::chrono::seconds>(sys_days(date).time_since_epoch()).count() + hours * 3600 +
            minutes * 60 + seconds;
  }
  return true;
}

int Backups::keepSetting() {
  const std::string text = SystemConfig::instance()->get("backup_keep");
  if (text.empty()) return kDefaultKeep;
  return std::max(std::atoi(text.c_str()), 1);
}

int Backups::intervalHoursSetting() {
  const std::string text = SystemConfig::instance()->get("backup_interval_hours");
  if (text.empty()) return kDefaultIntervalHours;
  return std::max(std::atoi(text.c_str()), 0);
}

bool Backups::isDue(std::int64_t last, std::int64_t now) {
  const std::int64_t hours = intervalHoursSetting();
  return hours > 0 && now - last >= hours * 3600;
}

std::string Backups::quickCheck(const fs::path& path, int* code) {
  if (code) *code = SQLITE_CANTOPEN;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return "no such file";
  std::string error;
  sqlite3* db = openFile(path, SQLITE_OPEN_READWRITE, &error);
  if (!db) return error;
  Closer closing{db};
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, "pragma quick_check", -1, &statement, nullptr);
  std::string found;
  while (rc == SQLITE_OK) {
    int step = sqlite3_step(statement);
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) {
      rc = step;
      break;
    }
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    if (!found.empty()) found += "; ";
    found += text ? text : "";
    if (found.size() > 2000) break;  // enough to tell the seller
  }
  if (rc != SQLITE_OK) found = sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  if (code) *code = rc & 0xff;
  return rc == SQLITE_OK && found.empty() ? "ok" : found;
}

bool Backups::isDamaged(const fs::path& path, std::string* detail) {
  int code = SQLITE_OK;
  const std::string found = quickCheck(path, &code);
  if (detail) *detail = found;
  if (code == SQLITE_OK) return found != "ok";
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

void Backups::copyDatabase(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  const fs::path partial = target.parent_path() / ("." + target.filename().string() + ".partial");
  auto removePartial = [&partial] {
    std::error_code ignored;
    fs::remove(partial, ignored);
    fs::remove(partial.string() + "-journal", ignored);
  };
  removePartial();
  // Owner-only from its creation: the copy holds the cards and passwords.
  if (!port::keepPrivate(partial)) fail(gbk("无法在备份文件夹中创建备份文件"), partial.string());
  std::string error;
  sqlite3* from = openFile(source, SQLITE_OPEN_READWRITE, &error);
  if (!from) {
    removePartial();
    fail(gbk("无法打开要备份的数据库"), error);
  }
  Closer closingFrom{from};
  int rc = SQLITE_OK;
  {
    sqlite3* to = openFile(partial, SQLITE_OPEN_READWRITE, &error);
    if (!to) {
      removePartial();
      fail(gbk("无法打开备份文件"), error);
    }
    Closer closingTo{to};
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup) {
      error = sqlite3_errmsg(to);
      removePartial();
      fail(gbk("无法开始备份"), error);
    }
    rc = runBackup(backup, kPagesPerStep);
    sqlite3_backup_finish(backup);
    if (rc == SQLITE_DONE) {
      // The copy carries the live file's journal mode: make it one file that
      // needs no log beside it (and that the sqlite3 tool opens anywhere).
      rc = sqlite3_exec(to, "pragma journal_mode=delete", nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) rc = SQLITE_DONE;
    }
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(to);
  }
  if (rc != SQLITE_DONE) {
    removePartial();
    fail(gbk("备份没有完成，已有的备份都保留"), error + " (" + sqlite3_errstr(rc) + ")");
  }
  const std::string check = quickCheck(partial);
  if (check != "ok") {
    removePartial();
    fail(gbk("新备份没有通过完整性检查，已删除；已有的备份都保留"), check);
  }
  fs::rename(partial, target, ec);
  if (ec) {
    removePartial();
    fail(gbk("无法保存备份文件"), ec.message());
  }
}

BackupCopy Backups::takeNow(int keep) {
  MutexLock hold(mutex_);
  std::error_code ec;
  const fs::path dir = folder();
  fs::create_directories(dir, ec);
  fs::permissions(dir, fs::perms::owner_all, ec);
  const std::string base = kPrefix + utcStamp(databaseClock()->now());
  std::string name = base + kSuffix;
  for (int n = 2; fs::exists(dir / name, ec) && n < 10000; ++n) name = base + "-" + std::to_string(n) + kSuffix;
  copyDatabase(databasePath(), dir / name);
  if (keep >= 0) pruneLocked(keep > 0 ? keep : keepSetting());
  BackupCopy made = describe(dir / name);
  return made;
}

BackupCopy Backups::describe(const fs::path& path) {
  BackupCopy copy;
  copy.name = path.filename().string();
  isCopyName(copy.name, &copy.time);
  std::error_code ec;
  copy.size = fs::file_size(path, ec);
  sqlite3* db = openFile(path, SQLITE_OPEN_READONLY, nullptr);
  if (!db) {
    copy.readable = false;
    return copy;
  }
  Closer closing{db};
  copy.cards = numberOf(db, "select count(*) from `items`");
  copy.unsentCards = numberOf(db, "select count(*) from `items` where `send_order_id`=''");
  copy.orders = numberOf(db, "select count(*) from `orders`");
  copy.readable = copy.cards >= 0 && copy.orders >= 0;
  return copy;
}

std::vector<fs::path> Backups::copiesNewestFirst() {
  std::vector<std::pair<std::pair<std::int64_t, int>, fs::path>> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::int64_t time = 0;
    if (!isCopyName(name, &time) || !it->is_regular_file(ec)) continue;
    const std::size_t body = std::string(kPrefix).size() + 15;
    const int n = name.size() > body + std::string(kSuffix).size() ? std::atoi(name.c_str() + body + 1) : 1;
    found.push_back({{time, n}, it->path()});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<fs::path> paths;
  for (auto& entry : found) paths.push_back(std::move(entry.second));
  return paths;
}

std::vector<BackupCopy> Backups::list() {
  std::vector<BackupCopy> copies;
  for (const fs::path& path : copiesNewestFirst()) copies.push_back(describe(path));
  return copies;
}

std::string Backups::newest() {
  const std::vector<fs::path> copies = copiesNewestFirst();
  return copies.empty() ? std::string() : copies.front().filename().string();
}

void Backups::prune(int keep) {
  MutexLock hold(mutex_);
  pruneLocked(keep);
}

void Backups::pruneLocked(int keep) {
  const std::vector<fs::path> copies = copiesNewestFirst();
  for (std::size_t k = static_cast<std::size_t>(std::max(keep, 1)); k < copies.size(); ++k) {
    std::error_code ignored;
    fs::remove(copies[k], ignored);
    fs::remove(copies[k].string() + "-wal", ignored);  // the updater's copies may have one
    fs::remove(copies[k].string() + "-shm", ignored);
  }
}

void Backups::restoreFrom(const std::string& name) {
  MutexLock hold(mutex_);
  std::error_code ec;
  const fs::path copy = folder() / name;
  if (!isCopyName(name) || !fs::is_regular_file(copy, ec)) {
    throw Exception(gbk("没有这个备份：") + name);
  }
  const std::string check = quickCheck(copy);
  if (check != "ok") fail(gbk("这个备份没有通过完整性检查，不能用来恢复"), check);
  std::string error;
  // Read-write (never written): a copy the updater made with its log
  // beside it needs the log's index.
  sqlite3* from = openFile(copy, SQLITE_OPEN_READWRITE, &error);
  if (!from) fail(gbk("无法打开备份文件"), error);
  Closer closingFrom{from};
  sqlite3* to = openFile(databasePath(), SQLITE_OPEN_READWRITE, &error);
  if (!to) fail(gbk("无法打开数据库文件"), error);
  Closer closingTo{to};
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) fail(gbk("无法开始恢复"), sqlite3_errmsg(to));
  // All pages in one step: one transaction on the live file.
  const int rc = runBackup(backup, -1);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) fail(gbk("恢复没有完成，数据库没有改变"), std::string(sqlite3_errmsg(to)) + " (" + sqlite3_errstr(rc) + ")");
}

}  // namespace Quorvel
