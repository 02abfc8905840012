// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes away (ctest runs test programs in
// parallel, so each test keeps its files to itself).
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace Quorvel::testing {

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("quorvel-market-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace Quorvel::testing
