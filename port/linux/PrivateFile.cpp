#include "port/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace Quorvel::port {

namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t kOthers = S_IRWXG | S_IRWXO;

[[noreturn]] void fail(const char* what, const std::filesystem::path& from, const std::filesystem::path& to, int error) {
  throw std::filesystem::filesystem_error(what, from, to, std::error_code(error, std::generic_category()));
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool narrow(int fd) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return false;
  if ((status.st_mode & kOthers) == 0) return true;
  return ::fchmod(fd, status.st_mode & S_IRWXU) == 0;
}

}  // namespace

void copyToPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) fail("copy to a private file: open the source", from, to, errno);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
  if (out < 0) {
    int error = errno;
    ::close(in);
    fail("copy to a private file: create the target", from, to, error);
  }
  char buffer[64 * 1024];
  int error = 0;
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = errno;
      break;
    }
    if (got == 0) break;
    if (!writeAll(out, buffer, static_cast<size_t>(got))) {
      error = errno;
      break;
    }
  }
  // The umask may have taken bits away; it never adds any, but say it plainly.
  if (error == 0 && ::fchmod(out, kOwnerOnly) != 0) error = errno;
  if (error == 0 && ::fsync(out) != 0) error = errno;
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(to.c_str());
    fail("copy to a private file", from, to, error);
  }
}

bool keepPrivate(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kOwnerOnly);
  if (fd < 0) return false;
  bool narrowed = narrow(fd);
  ::close(fd);
  return narrowed;
}

bool narrowIfExists(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT;
  bool narrowed = narrow(fd);
  ::close(fd);
  return narrowed;
}

void makePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) fail("make a private folder", folder, {}, errno);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) fail("make a private folder", folder, {}, errno == ELOOP ? ENOTDIR : errno);
  struct stat status;
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (status.st_uid != ::geteuid()) {
    error = EPERM;  // someone else's folder: it cannot be made ours
  } else if ((status.st_mode & 07777) != S_IRWXU && ::fchmod(fd, S_IRWXU) != 0) {
    error = errno;
  }
  ::close(fd);
  if (error != 0) fail("make a private folder", folder, {}, error);
}

void writePrivateFile(const std::filesystem::path& path, std::string_view content) {
  std::filesystem::path temporary = path;
  temporary += ".new-" + std::to_string(::getpid());
  ::unlink(temporary.c_str());  // left over from a crash; never followed
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) fail("write a private file", path, {}, errno);
  int error = 0;
  if (!writeAll(fd, content.data(), content.size())) error = errno;
  if (error == 0 && ::fchmod(fd, kOwnerOnly) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    fail("write a private file", path, {}, error);
  }
}

void restrictNewFiles() { ::umask(S_IRWXG | S_IRWXO); }

}  // namespace Quorvel::port
