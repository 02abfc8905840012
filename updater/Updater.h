// The update installer: moves the files that were placed in "update/" into
// place, tells the user, and starts the main program again. One run, no state
// kept between runs; it does not wait for the main program to close, so
// whoever starts it must have closed the main program first.
//
// Everything outside the process is injected (working folder, program names,
// process start, message boxes), so that tests run it in a temporary folder.
// One thread at a time.
#pragma once

#include <filesystem>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "port/ProcessLauncher.h"
#include "port/ProgramNames.h"

namespace Quorvel {

struct UpdaterSetup {
  // The main program's folder: it holds the main program, its database, the
  // template folder "tpl" and the update folder "update".
  std::filesystem::path folder{};
  std::string mainProgram = port::kMainProgram;
  std::string updaterProgram = port::kUpdaterProgram;
  std::string updaterStaged = port::kUpdaterStaged;
  std::shared_ptr<port::ProcessLauncher> launcher{};
  // Seconds since 1970 (the system clock unless a test gives its own), for
  // the name of the database copy made before a template is installed.
  std::function<std::int64_t()> now{};
  // Shows a message box: caption and text, both GBK.
  std::function<void(const std::string& caption, const std::string& text)> showMessage{};
};

class Updater {
 public:
  // A setup without launcher or message box gets the system's.
  explicit Updater(UpdaterSetup setup);

  // The whole run: install the update, remove an empty database, start the
  // main program. Returns false when the main program could not be started
  // (the user has been told why).
  bool run();

  // Installs every file directly inside "update/" and shows "更新完成" when
  // the folder exists; removes the folder when it ends up empty. A file that
  // cannot be installed, and anything that is not a plain file (a folder, a
  // symbolic link), stays in "update/". Returns the number of files
  // installed.
  int installUpdate();

  // Copies the database (and the log a crash may have left beside it) into
  // "backup/" as "vendara2012-YYYYMMDD-HHMMSS.db" (UTC), owner-only, while
  // holding the main program's folder lock, so that no program writes it
  // meanwhile. Run before a database template is installed. Returns the
  // copy's name; empty when there is no database, the main program is
  // running (its own backups cover it), or the copy failed (nothing is left
  // half-copied).
  std::string backUpDatabase();

  // Deletes a 0-byte database so that the main program creates it again from
  // its template. Runs before the main program starts, which could otherwise
  // already have opened the file.
  void removeEmptyDatabase();

  // Starts the main program detached in the folder; a missing program or a
  // failed start is shown to the user and gives false.
  bool startMainProgram();

 private:
  bool installFile(const std::filesystem::path& entry);

  UpdaterSetup setup_;
};

}  // namespace Quorvel
