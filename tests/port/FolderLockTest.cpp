// One program per data folder: while one holder has the lock, a second take
// (another open of the file, as a second program makes) is refused and reads
// the holder's line; once the holder lets go the lock can be taken again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "port/FolderLock.h"

namespace Quorvel::port {
namespace {

namespace fs = std::filesystem;

TEST(FolderLock, ASecondHolderIsRefusedAndNamesTheFirstUntilItLetsGo) {
  const fs::path dir = fs::temp_directory_path() / ("quorvel-lock-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "vendara.lock";
  std::string holder;
  {
    std::unique_ptr<FolderLock> first = FolderLock::take(file, &holder);
    ASSERT_TRUE(first);
    struct stat status;
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    first->describe("pid 1, local server 127.0.0.1:12345");
    EXPECT_FALSE(FolderLock::take(file, &holder));
    EXPECT_EQ(holder, "pid 1, local server 127.0.0.1:12345");
    // Another process is refused the same way.
    const pid_t child = ::fork();
    if (child == 0) {
      std::string seen;
      ::_exit(FolderLock::take(file, &seen) ? 1 : (seen.find("12345") != std::string::npos ? 0 : 2));
    }
    int code = -1;
    ASSERT_EQ(::waitpid(child, &code, 0), child);
    EXPECT_TRUE(WIFEXITED(code));
    EXPECT_EQ(WEXITSTATUS(code), 0);
  }
  EXPECT_TRUE(FolderLock::take(file, &holder)) << "free again once the holder is gone";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace Quorvel::port
