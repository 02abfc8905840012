// FolderLock: one program per data folder. The program takes an exclusive
// lock on a file in its data folder before it touches anything there, and
// keeps it until it ends (the system releases it when the process dies,
// however it dies). The file holds a line saying who holds the lock (process
// id and local server address), for a second program to name.
//
// Made and kept by the main thread; describe may be called from the thread
// that learns the server's address.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace Quorvel::port {

class FolderLock {
 public:
  // Takes the lock on `file` (created owner-only when missing). Null when
  // another process holds it; `holder` then receives the line that process
  // wrote (empty when it wrote none yet), or why the file cannot be locked.
  static std::unique_ptr<FolderLock> take(const std::filesystem::path& file, std::string* holder);

  ~FolderLock();  // releases the lock
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Replaces the file's text with `line`.
  void describe(const std::string& line);

  // This process's id, for the line.
  static std::int64_t processId();

 private:
  explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;  // the open, locked file
};

}  // namespace Quorvel::port
