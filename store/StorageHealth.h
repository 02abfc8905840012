// StorageHealth: whether the disk currently takes the program's writes. A
// database failure for lack of space, for a file that may not be written
// (read-only, no permission) or for an input/output error marks the storage
// failing; the next commit that reaches the disk marks it working again. The
// daemon pauses its deliveries while the storage is failing (it tries a
// small write before each tick) and the status page says why.
//
// One object for the process (storageHealth()), reached from the database
// layer on any thread, also while the connection map's lock is held: its
// fields are atomics and a lock of its own, never the global lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/Mutex.h"

namespace Quorvel {

class StorageHealth {
 public:
  // Whether SQLite's result code `code` (primary or extended) says the disk
  // did not take a write: full, read-only, no permission, input/output error.
  static bool isStorageFailure(int code);
  // The seller's message for such a code (GBK), or empty for any other code.
  static std::string messageFor(int code);

  // Records a failure with SQLite's result code and the seller's message.
  void noteFailure(int code, const std::string& message);
  // Records that a commit reached the disk.
  void noteWriteWorked();

  bool failing() const { return failing_.load(); }
  // The message of the failure while failing, else empty.
  std::string message() const;

 private:
  std::atomic<bool> failing_{false};
  mutable Mutex mutex_;
  std::string message_ GUARDED_BY(mutex_);  // guarded by mutex_
};

// The process's one StorageHealth. Never destroyed (threads still running
// while the process ends may report to it).
StorageHealth& storageHealth();

}  // namespace Quorvel
