// SafeMode: what the program found when it checked the live database at
// start. A file that fails quick_check is never written: it is renamed to
// "vendara2012.db.damaged-YYYYMMDD-HHMMSS" (its log files beside it with
// it), a fresh database is made from the template and given the settings of
// the newest good copy (so the page and the hosts are found as before),
// and the program runs in
// safe mode: the server answers, the daemon is not started, and the status
// page carries "DB_DAMAGED": true until a backup is restored. A sound file
// is copied into backup/ before anything changes it (when it holds any card
// or order).
//
// The process-wide object (processWide). checkAtStart runs on the main
// thread before the other threads start; any thread may read the state.
#pragma once

#include <memory>

#include <atomic>
#include <mutex>
#include <string>

#include "base/Mutex.h"

namespace Quorvel {

class SafeMode {
 public:
  // The program's one (processWide).
  static std::shared_ptr<SafeMode> instance();

  // Checks the live database (databasePath(), already prepared from the
  // template when it was missing). Returns the lines to tell the seller on
  // standard output (GBK): what was found, where the damaged file is kept,
  // the newest good backup, or why the start backup could not be made.
  std::string checkAtStart();

  // Safe mode entered with the damaged file kept as `keptAs`.
  void enter(const std::string& keptAs, const std::string& detail);
  // Left after a restore.
  void leave();

  bool damaged() const { return damaged_.load(); }
  std::string keptAs() const;
  // The seller's message while damaged (GBK), naming the newest good backup.
  std::string message() const;

 private:
  std::atomic<bool> damaged_{false};
  mutable Mutex mutex_;
  std::string keptAs_ GUARDED_BY(mutex_);  // guarded by mutex_
  std::string detail_ GUARDED_BY(mutex_);  // guarded by mutex_
};

}  // namespace Quorvel
