#include "port/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Quorvel::port {

namespace {

std::string readAll(int fd) {
  std::string text;
  char buffer[512];
  off_t at = 0;
  for (;;) {
    ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || text.size() > 4096) break;
    text.append(buffer, static_cast<size_t>(got));
    at += got;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::take(const std::filesystem::path& file, std::string* holder) {
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (holder) *holder = std::string("cannot open ") + file.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  // An flock belongs to this open file: a second open, in this process or
  // another, cannot take it while this one is held.
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    if (holder) *holder = error == EWOULDBLOCK ? readAll(fd) : std::string("cannot lock ") + file.string() + ": " + std::strerror(error);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock() { ::close(static_cast<int>(handle_)); }

void FolderLock::describe(const std::string& line) {
  const int fd = static_cast<int>(handle_);
  if (::ftruncate(fd, 0) != 0) return;
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

std::int64_t FolderLock::processId() { return static_cast<std::int64_t>(::getpid()); }

}  // namespace Quorvel::port
