#include "store/DatabaseFile.h"

#include <filesystem>
#include <mutex>

namespace Quorvel {

namespace {

std::mutex pathsLock;
std::string databaseFile = "vendara2012.db";      // guarded by pathsLock
std::string templateFile = "tpl/vendara2012.db";  // guarded by pathsLock

}  // namespace

void setDatabasePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(pathsLock);
  databaseFile = path;
}

std::string databasePath() {
  std::lock_guard<std::mutex> hold(pathsLock);
  return databaseFile;
}

void setTemplatePath(const std::string& path) {
  std::lock_guard<std::mutex> hold(pathsLock);
  templateFile = path;
}

std::string templatePath() {
  std::lock_guard<std::mutex> hold(pathsLock);
  return templateFile;
}

bool prepareDatabaseFile() {
  namespace fs = std::filesystem;
  fs::path live = databasePath();
  std::error_code error;
  fs::file_status status = fs::status(live, error);
  // A status that cannot be read counts as missing; the copy below then
  // fails rather than replace whatever is there.
  if (!error && fs::exists(status)) return false;
  fs::copy_file(templatePath(), live, fs::copy_options::none);
  return true;
}

}  // namespace Quorvel
