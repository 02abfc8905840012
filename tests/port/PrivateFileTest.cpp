// Files with secrets are owner-only from their creation, and files others can
// read are narrowed.
#include "port/PrivateFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace Quorvel::port {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

class PrivateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvel-private-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A permissive umask, as a careless desktop session may have.
    saved_ = ::umask(0);
  }
  void TearDown() override {
    ::umask(saved_);
    fs::remove_all(dir_);
  }
  fs::path file(const std::string& name, const std::string& content, mode_t mode) {
    fs::path path = dir_ / name;
    std::ofstream(path) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }

  fs::path dir_;
  mode_t saved_ = 0;
};

TEST_F(PrivateFileTest, ACopyIsOwnerOnlyWhateverTheSourceAndUmaskAllow) {
  fs::path source = file("template.db", "schema", 0644);
  copyToPrivateFile(source, dir_ / "live.db");
  EXPECT_EQ(modeOf(dir_ / "live.db"), 0600u);
  std::stringstream copied;
  copied << std::ifstream(dir_ / "live.db").rdbuf();
  EXPECT_EQ(copied.str(), "schema");

  // An existing target is never replaced; a missing source copies nothing.
  fs::path existing = file("existing.db", "data", 0644);
  EXPECT_THROW(copyToPrivateFile(source, existing), fs::filesystem_error);
  EXPECT_EQ(modeOf(existing), 0644u);
  EXPECT_THROW(copyToPrivateFile(dir_ / "missing.db", dir_ / "other.db"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(dir_ / "other.db"));
}

TEST_F(PrivateFileTest, OpenFilesAreNarrowedAndMissingOnesCreatedOwnerOnly) {
  fs::path open = file("cookie.txt", "session", 0664);
  EXPECT_TRUE(keepPrivate(open));
  EXPECT_EQ(modeOf(open), 0600u);
  EXPECT_TRUE(keepPrivate(dir_ / "new.txt"));
  EXPECT_EQ(modeOf(dir_ / "new.txt"), 0600u);

  fs::path world = file("world.db", "x", 0666);
  EXPECT_TRUE(narrowIfExists(world));
  EXPECT_EQ(modeOf(world), 0600u);
  EXPECT_TRUE(narrowIfExists(dir_ / "absent.db"));
  EXPECT_FALSE(fs::exists(dir_ / "absent.db"));
  // An owner-only file keeps what it had.
  fs::path own = file("own.db", "x", 0400);
  EXPECT_TRUE(narrowIfExists(own));
  EXPECT_EQ(modeOf(own), 0400u);
}

}  // namespace
}  // namespace Quorvel::port
