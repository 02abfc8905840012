#include "port/FolderLock.h"

#include <windows.h>

#include <string>

namespace Quorvel::port {

namespace {

HANDLE handleOf(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string readAll(HANDLE file) {
  std::string text;
  char buffer[512];
  OVERLAPPED at{};
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, &at) || got == 0 || text.size() > 4096) break;
    text.append(buffer, got);
    at.Offset += got;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::take(const std::filesystem::path& file, std::string* holder) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (holder) *holder = "cannot open " + file.string() + ": error " + std::to_string(GetLastError());
    return nullptr;
  }
  // A lock on a range far beyond the text: the holder's line stays readable
  // by the second program, which cannot take the same range.
  OVERLAPPED range{};
  range.OffsetHigh = 1;
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    const DWORD error = GetLastError();
    if (holder) {
      *holder = error == ERROR_LOCK_VIOLATION ? readAll(handle)
                                              : "cannot lock " + file.string() + ": error " + std::to_string(error);
    }
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<FolderLock>(new FolderLock(reinterpret_cast<std::intptr_t>(handle)));
}

FolderLock::~FolderLock() { CloseHandle(handleOf(handle_)); }

void FolderLock::describe(const std::string& line) {
  HANDLE handle = handleOf(handle_);
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  OVERLAPPED at{};
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, &at);
}

std::int64_t FolderLock::processId() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

}  // namespace Quorvel::port
