// The database of one test process: a copy of the built template in a folder
// of its own (in memory where the system allows), removed when the process
// ends. ctest runs every test in its own process; run by hand, the tests of
// one program share the database, so each test sets the settings it relies
// on. Programs that include this define QUORVEL_TEMPLATE_DB (see
// tests/CMakeLists.txt).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "store/DatabaseFile.h"
#include "store/Db.h"

namespace Quorvel::testing {

class TempDatabase {
 public:
  TempDatabase() {
    std::string pattern = (baseFolder() / "quorvel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::filesystem::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
    folder_ = pattern;
    setTemplatePath(QUORVEL_TEMPLATE_DB);
    setDatabasePath((folder_ / "vendara2012.db").string());
    prepareDatabaseFile();
  }
  ~TempDatabase() {
    releaseDb();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  // Memory-backed when the system has it (every commit syncs the file, which
  // costs milliseconds on a disk), unless TMPDIR says otherwise.
  static std::filesystem::path baseFolder() {
    std::error_code error;
    if (!getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
  }

  std::filesystem::path folder_;
};

// Points the store at this process's database, made on the first call.
inline TempDatabase& useTempDatabase() {
  static TempDatabase database;
  return database;
}

}  // namespace Quorvel::testing
