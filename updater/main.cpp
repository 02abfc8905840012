// refitter: installs the files placed in "update/" beside the main program and
// starts the main program again. Run it in the main program's folder once the
// main program has been closed; it takes no options.
#include <filesystem>
#include <system_error>

#include "updater/Updater.h"

int main() {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::current_path(ec);
  if (ec) folder = ".";
  Quorvel::Updater updater({.folder = folder});
  return updater.run() ? 0 : 1;
}
