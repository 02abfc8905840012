// A stand-in for the main program "Vendara 2012.exe" in the updater's tests:
// it writes "started.txt" into its working folder, saying that folder and
// whether "vendara2012.db" was there when it started, and ends.
//
//   vendara_standin.exe --crash FOLDER   installs the crash reporter with its
//                                        reports in FOLDER and faults
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "port/CrashReporter.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--crash") == 0) {
    if (Quorvel::port::crashReporterInstall({.appName = "Vendara 2012", .uploadUrl = "http://127.0.0.1:18080/crashrpt/crashrpt.php",
                                             .privacyUrl = "http://127.0.0.1:18080/crashrpt/privacy.html",
                                             .reportFolder = argv[2]}) != 0) {
      return 4;
    }
    RaiseException(0xE0000001, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 5;
  }
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  const bool database = GetFileAttributesA("vendara2012.db") != INVALID_FILE_ATTRIBUTES;
  FILE* out = std::fopen("started.part", "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "%s\n%s\n", folder, database ? "database" : "no database");
  std::fclose(out);
  // Whole or not at all: the test waits for the final name.
  return MoveFileA("started.part", "started.txt") ? 0 : 1;
}
