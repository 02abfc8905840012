// For tests: while alive, the default SQLite file system is a wrapper of the
// previous one that passes every call through, after asking the subclass
// about writes and syncs. Connections opened before it was made, or used
// after it ended, are not affected: make it first, then open. The hooks run
// on whichever thread SQLite calls from.
#pragma once

#include <sqlite3.h>

namespace Quorvel::testing {

class WrappingVfs {
 public:
  explicit WrappingVfs(const char* name) {
    real_ = sqlite3_vfs_find(nullptr);
    vfs_ = *real_;
    vfs_.zName = name;
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
    vfs_.pAppData = this;
    vfs_.xOpen = &WrappingVfs::open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  virtual ~WrappingVfs() {
    sqlite3_vfs_register(real_, 1);
    sqlite3_vfs_unregister(&vfs_);
  }
  WrappingVfs(const WrappingVfs&) = delete;
  WrappingVfs& operator=(const WrappingVfs&) = delete;

 protected:
  // A write to a file opened with `openFlags`: SQLITE_OK lets it through,
  // anything else is what the write answers.
  virtual int beforeWrite(int openFlags) { return SQLITE_OK; }
  // A sync of a file opened with `openFlags`, before it is passed on.
  virtual void onSync(int openFlags) {}

 private:
  // Our file in front, the real one right behind it in the same block.
  struct File {
    sqlite3_file base;
    WrappingVfs* owner;
    int openFlags;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  };

  static File* of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
  static sqlite3_file* real(sqlite3_file* file) { return of(file)->real(); }

  static int open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* self = static_cast<WrappingVfs*>(vfs->pAppData);
    File* wrapped = of(file);
    wrapped->base.pMethods = nullptr;
    wrapped->owner = self;
    wrapped->openFlags = flags;
    int rc = self->real_->xOpen(self->real_, name, wrapped->real(), flags, outFlags);
    if (wrapped->real()->pMethods) wrapped->base.pMethods = &kMethods;
    return rc;
  }

  static int close(sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); }
  static int read(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
    return real(f)->pMethods->xRead(real(f), data, amount, offset);
  }
  static int write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    const int refused = of(f)->owner->beforeWrite(of(f)->openFlags);
    if (refused != SQLITE_OK) return refused;
    return real(f)->pMethods->xWrite(real(f), data, amount, offset);
  }
  static int truncate(sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); }
  static int sync(sqlite3_file* f, int flags) {
    of(f)->owner->onSync(of(f)->openFlags);
    return real(f)->pMethods->xSync(real(f), flags);
  }
  static int fileSize(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
  static int lock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
  static int unlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
  static int checkReservedLock(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
  static int fileControl(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
  static int sectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
  static int deviceCharacteristics(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
  static int shmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
  }
  static int shmLock(sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
  }
  static void shmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
  static int shmUnmap(sqlite3_file* f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }
  static int fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
  }
  static int unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    return real(f)->pMethods->xUnfetch(real(f), offset, page);
  }

  static constexpr sqlite3_io_methods kMethods = {
      3,        &close,    &read,    &write,      &truncate, &sync,     &fileSize,
      &lock,    &unlock,   &checkReservedLock,    &fileControl,         &sectorSize,
      &deviceCharacteristics, &shmMap, &shmLock,  &shmBarrier,          &shmUnmap,
      &fetch,   &unfetch,
  };

  sqlite3_vfs* real_;
  sqlite3_vfs vfs_;
};

}  // namespace Quorvel::testing
