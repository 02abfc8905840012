// Set-up shared by the marketplace fuzz targets: a database of their own in
// a temporary folder (removed when the process ends), with every marketplace
// host pointed at the simulator's demo address, so that the patterns built
// from the host settings are those the seed pages (saved from market-sim)
// were made for; and the rule for the pattern engine's limits. Called from
// the fuzz target's only thread.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"

namespace Quorvel::fuzzing {

inline constexpr const char* kSimBase = "http://127.0.0.1:18090";

// The process's temporary folder. Kept until the very end: the handler that
// removes it runs after the static objects are gone.
inline const std::string& fuzzFolder() {
  static const std::string* folder = [] {
    auto* name = new std::string((std::filesystem::temp_directory_path() / "quorvel-fuzz-XXXXXX").string());
    if (!::mkdtemp(name->data())) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(fuzzFolder(), ignored);
    });
    return name;
  }();
  return *folder;
}

inline void useSimulatorHosts() {
  static const bool done = [] {
    auto options = std::make_shared<DatabaseOptions>();
    options->path = fuzzFolder() + "/vendara2012.db";
    options->templatePath = QUORVEL_TEMPLATE_DB;
    installProcessWide(std::make_shared<ThreadConnections>(Env().set(options)));
    prepareDatabaseFile();
    SystemConfig::instance()->set(getDb(), "market_base", kSimBase);
    releaseDb();
    return true;
  }();
  (void)done;
}

// Runs `read`. A search the pattern engine gives up on (its match, depth or
// stack limit: a negative engine code) raises Exception by contract and is
// an allowed outcome; any other exception is a fault.
template <class Read>
void allowingEngineLimits(Read read) {
  try {
    read();
  } catch (Exception e) {
    if (e.code() >= 0) __builtin_trap();
  }
}

}  // namespace Quorvel::fuzzing
