// Backups: copies of the live database in the folder "backup/" beside it,
// named "vendara2012-YYYYMMDD-HHMMSS.db" (UTC time of the copy; "-N" added
// when that second already has one), owner-only. A copy is made with
// SQLite's online backup, a few pages at a time with a short pause between
// them, so that neither the web UI nor a delivery waits on it for more than
// a step; it is written under a temporary name, switched to a single file
// (no log beside it), checked with quick_check and only then given its name.
// Only then are older copies pruned: the newest `backup_keep` (setting,
// default 7) stay.
//
// A restore writes a copy's content into the live database through SQLite
// (never by replacing the file), as one transaction: connections stay valid
// and see the restored content, and a restore cut short leaves the database
// as it was. Stopping the daemon around it and reloading the caches is the
// caller's (api/BackupActions.h).
//
// The process-wide object (processWide) runs one backup or restore at a
// time (its own lock); any thread may call it. Copies are read through
// connections of their own, never the calling thread's.
#pragma once

#include <memory>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/Mutex.h"

namespace Quorvel {

// One good copy, as the maintenance view lists it.
struct BackupCopy {
  std::string name;       // file name inside the backup folder
  std::int64_t time = 0;  // seconds since 1970, from the name
  std::uint64_t size = 0;  // bytes
  int cards = 0;          // all cards
  int unsentCards = 0;
  int orders = 0;
  bool readable = true;  // false: the counts could not be read
};

class Backups {
 public:
  // The program's one (processWide).
  static std::shared_ptr<Backups> instance();

  static constexpr int kDefaultKeep = 7;
  static constexpr int kDefaultIntervalHours = 24;
  // Pages copied per step, and the pause between steps.
  static constexpr int kPagesPerStep = 256;
  static constexpr int kPauseMillis = 2;

  // The folder of the copies of the live database (databasePath()).
  static std::filesystem::path folder();
  // Whether `name` is a copy's name ("vendara2012-YYYYMMDD-HHMMSS[-N].db",
  // no folder part); its time in seconds since 1970 through `time`.
  static bool isCopyName(const std::string& name, std::int64_t* time = nullptr);

  // The settings "backup_keep" (empty: 7, at least 1) and
  // "backup_interval_hours" (empty: 24; 0: no backups while running).
  static int keepSetting();
  static int intervalHoursSetting();
  // Whether a copy is due while the program runs, the last one having been
  // made at `last` (seconds): intervalHoursSetting() hours have passed, and
  // that setting is not 0.
  static bool isDue(std::int64_t last, std::int64_t now);

  // Copies the live database now, checks the copy and prunes the folder to
  // the newest `keep` copies (keepSetting() when 0; no pruning when below
  // 0). Returns the new copy.
  // Raises Exception (GBK message) when the copy cannot be made or fails
  // its check; the older copies are then all kept.
  BackupCopy takeNow(int keep = 0);

  // Copies `source` (any database file) to `target` with the backup in
  // steps, then checks it as takeNow does. For takeNow and the updater's
  // callers; raises Exception.
  static void copyDatabase(const std::filesystem::path& source, const std::filesystem::path& target);

  // The good copies, newest first, with their counts.
  std::vector<BackupCopy> list();
  // The newest copy's name, or empty when there is none.
  std::string newest();

  // Deletes all but the newest `keep` copies (at least one is kept).
  void prune(int keep);

  // "ok" when quick_check finds nothing wrong with the database at `path`,
  // else what it found (or why the file could not be read). `code` receives
  // SQLITE_OK when the check ran, else the failure's result code. The file
  // is not written (no log is folded into it).
  static std::string quickCheck(const std::filesystem::path& path, int* code = nullptr);
  // Whether the file at `path` is damaged: the check ran and found faults,
  // or SQLite calls it corrupt or not a database. A file that cannot be read
  // for another reason (busy, no permission) is not called damaged.
  static bool isDamaged(const std::filesystem::path& path, std::string* detail = nullptr);

  // Writes the content of the copy `name` into the live database, after
  // checking the copy. Raises Exception for a name that is not a copy in the
  // folder, a copy that fails its check, or a failed write (the live
  // database is then unchanged).
  void restoreFrom(const std::string& name);

 private:
  static BackupCopy describe(const std::filesystem::path& path);
  static std::vector<std::filesystem::path> copiesNewestFirst();
  void pruneLocked(int keep) REQUIRES(mutex_);  // caller holds mutex_

  Mutex mutex_;  // one backup or restore at a time
};

}  // namespace Quorvel
