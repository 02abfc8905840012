// For tests: while alive, the default SQLite file system is a wrapper of the
// previous one whose writes (and growing truncates) fail with SQLITE_FULL
// while the disk is "full" (setFull), as a full disk answers. Connections
// opened before it was made, or used after it ended, are not affected: make
// it first, then open. setFull may be called from any thread.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace Quorvel::testing {

class FullDiskVfs {
 public:
  FullDiskVfs() {
    real_ = sqlite3_vfs_find(nullptr);
    vfs_ = *real_;
    vfs_.zName = "full-disk";
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
    vfs_.pAppData = this;
    vfs_.xOpen = &FullDiskVfs::open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~FullDiskVfs() {
    sqlite3_vfs_register(real_, 1);
    sqlite3_vfs_unregister(&vfs_);
  }
  FullDiskVfs(const FullDiskVfs&) = delete;
  FullDiskVfs& operator=(const FullDiskVfs&) = delete;

  void setFull(bool full) { full_ = full; }
  // Writes refused so far.
  int refused() const { return refused_; }

 private:
  // Our file in front, the real one right behind it in the same block.
  struct File {
    sqlite3_file base;
    FullDiskVfs* owner;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  };

  static File* of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }

  static int open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* self = static_cast<FullDiskVfs*>(vfs->pAppData);
    File* wrapped = of(file);
    wrapped->base.pMethods = nullptr;
    wrapped->owner = self;
    int rc = self->real_->xOpen(self->real_, name, wrapped->real(), flags, outFlags);
    if (wrapped->real()->pMethods) wrapped->base.pMethods = &kMethods;
    return rc;
  }

  static int close(sqlite3_file* f) { return of(f)->real()->pMethods->xClose(of(f)->real()); }
  static int read(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
    return of(f)->real()->pMethods->xRead(of(f)->real(), data, amount, offset);
  }
  static int write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    if (of(f)->owner->full_) {
      ++of(f)->owner->refused_;
      return SQLITE_FULL;
    }
    return of(f)->real()->pMethods->xWrite(of(f)->real(), data, amount, offset);
  }
  static int truncate(sqlite3_file* f, sqlite3_int64 size) { return of(f)->real()->pMethods->xTruncate(of(f)->real(), size); }
  static int sync(sqlite3_file* f, int flags) {
    return of(f)->real()->pMethods->xSync(of(f)->real(), flags);
  }
  static int fileSize(sqlite3_file* f, sqlite3_int64* size) { return of(f)->real()->pMethods->xFileSize(of(f)->real(), size); }
  static int lock(sqlite3_file* f, int level) { return of(f)->real()->pMethods->xLock(of(f)->real(), level); }
  static int unlock(sqlite3_file* f, int level) { return of(f)->real()->pMethods->xUnlock(of(f)->real(), level); }
  static int checkReservedLock(sqlite3_file* f, int* out) {
    return of(f)->real()->pMethods->xCheckReservedLock(of(f)->real(), out);
  }
  static int fileControl(sqlite3_file* f, int op, void* arg) {
    return of(f)->real()->pMethods->xFileControl(of(f)->real(), op, arg);
  }
  static int sectorSize(sqlite3_file* f) { return of(f)->real()->pMethods->xSectorSize(of(f)->real()); }
  static int deviceCharacteristics(sqlite3_file* f) {
    return of(f)->real()->pMethods->xDeviceCharacteristics(of(f)->real());
  }
  static int shmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return of(f)->real()->pMethods->xShmMap(of(f)->real(), page, size, extend, out);
  }
  static int shmLock(sqlite3_file* f, int offset, int n, int flags) {
    return of(f)->real()->pMethods->xShmLock(of(f)->real(), offset, n, flags);
  }
  static void shmBarrier(sqlite3_file* f) { of(f)->real()->pMethods->xShmBarrier(of(f)->real()); }
  static int shmUnmap(sqlite3_file* f, int deleteFlag) { return of(f)->real()->pMethods->xShmUnmap(of(f)->real(), deleteFlag); }
  static int fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return of(f)->real()->pMethods->xFetch(of(f)->real(), offset, amount, out);
  }
  static int unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    return of(f)->real()->pMethods->xUnfetch(of(f)->real(), offset, page);
  }

  static constexpr sqlite3_io_methods kMethods = {
      3,        &close,    &read,    &write,      &truncate, &sync,     &fileSize,
      &lock,    &unlock,   &checkReservedLock,    &fileControl,         &sectorSize,
      &deviceCharacteristics, &shmMap, &shmLock,  &shmBarrier,          &shmUnmap,
      &fetch,   &unfetch,
  };

  sqlite3_vfs* real_;
  sqlite3_vfs vfs_;
  std::atomic<bool> full_{false};
  std::atomic<int> refused_{0};
};

}  // namespace Quorvel::testing
