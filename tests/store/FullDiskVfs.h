// For tests: while alive, the default SQLite file system fails every write
// with SQLITE_FULL while the disk is "full" (setFull), as a full disk
// answers (see WrappingVfs for which connections it reaches). setFull may be
// called from any thread.
#pragma once

#include <atomic>

#include "tests/store/WrappingVfs.h"

namespace Quorvel::testing {

class FullDiskVfs : public WrappingVfs {
 public:
  FullDiskVfs() : WrappingVfs("full-disk") {}

  void setFull(bool full) { full_ = full; }
  // Writes refused so far.
  int refused() const { return refused_; }

 protected:
  int beforeWrite(int) override {
    if (!full_) return SQLITE_OK;
    ++refused_;
    return SQLITE_FULL;
  }

 private:
  std::atomic<bool> full_{false};
  std::atomic<int> refused_{0};
};

}  // namespace Quorvel::testing
