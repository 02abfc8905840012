// A bench's own database: a fresh folder under the system's temporary
// directory, a live file made from the built template (QUORVEL_TEMPLATE_DB,
// defined by the bench's CMakeLists.txt) and brought up to date, installed as
// the process-wide database options. The folder goes when the object does.
// Made once on the bench's main thread, before anything opens the database.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/ProcessWide.h"
#include "store/DatabaseFile.h"
#include "store/ThreadConnections.h"

namespace Quorvel::bench {

class BenchDatabase {
 public:
  // `name` tells the folder apart: "quorvel-<name>-bench-<pid>".
  explicit BenchDatabase(const std::string& name)
      : folder_(std::filesystem::temp_directory_path() /
                ("quorvel-" + name + "-bench-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(folder_);
    options_ = std::make_shared<DatabaseOptions>();
    options_->path = (folder_ / "vendara2012.db").string();
    options_->templatePath = QUORVEL_TEMPLATE_DB;
    installProcessWide(std::make_shared<ThreadConnections>(Env().set(options_)));
    prepareDatabaseFile();
    upgradeDatabase();
  }
  ~BenchDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  BenchDatabase(const BenchDatabase&) = delete;
  BenchDatabase& operator=(const BenchDatabase&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  const std::string& path() const { return options_->path; }

 private:
  const std::filesystem::path folder_;
  std::shared_ptr<DatabaseOptions> options_;
};

}  // namespace Quorvel::bench
