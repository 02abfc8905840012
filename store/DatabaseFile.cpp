#include "store/DatabaseFile.h"

#include <filesystem>

#include "base/ProcessWide.h"
#include "port/PrivateFile.h"

namespace Quorvel {

std::string databasePath() { return processWide<DatabaseOptions>()->path; }

std::string templatePath() { return processWide<DatabaseOptions>()->templatePath; }

bool prepareDatabaseFile() {
  namespace fs = std::filesystem;
  fs::path live = databasePath();
  std::error_code error;
  fs::file_status status = fs::status(live, error);
  // A status that cannot be read counts as missing; the copy below then
  // fails rather than replace whatever is there.
  if (!error && fs::exists(status)) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) port::narrowIfExists(live.string() + suffix);
    return false;
  }
  port::copyToPrivateFile(templatePath(), live);
  return true;
}

}  // namespace Quorvel
