// StartupSafety: the start-up steps that keep the seller's data safe, in the
// order main() calls them:
//   lockFolder       one program per data folder (port/FolderLock.h): a
//                    second program exits before it changes anything,
//                    naming the running one;
//   checkDatabase    after the live file is prepared and before it is
//                    upgraded: quick_check, then safe mode for a damaged
//                    file or a copy into backup/ (store/SafeMode.h);
//   listening        writes the server's address into the lock file;
//   startBackups     a copy every "backup_interval_hours" hours while the
//                    program runs (0: none), on a thread of its own that
//                    ends when this object does.
// Made and kept by main() for the whole run, with the program's Env (the
// backups' pauses and the time they are due run on its clock); listening is
// called from the server thread.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <thread>

#include "base/Env.h"
#include "port/FolderLock.h"

namespace Quorvel {

class StartupSafety {
 public:
  explicit StartupSafety(const Env& env) : clock_(env.sharedClock()) {}
  ~StartupSafety();
  StartupSafety(const StartupSafety&) = delete;
  StartupSafety& operator=(const StartupSafety&) = delete;

  // False when another program holds the folder (the message is printed).
  bool lockFolder();
  void checkDatabase();
  bool safeMode() const;
  void listening(std::uint16_t port);
  void startBackups();

 private:
  void backupLoop(std::stop_token stop);

  const std::shared_ptr<Clock> clock_;
  std::unique_ptr<port::FolderLock> lock_;  // main thread; describe from the server thread
  std::jthread backups_;
};

}  // namespace Quorvel
