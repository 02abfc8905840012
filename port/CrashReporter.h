// Catches fatal faults of the process and leaves a crash report behind.
// Install once at start-up, from the main thread, before other threads start.
#pragma once

#include <string>

namespace Quorvel::port {

struct CrashReportInfo {
  std::string appName;      // "Vendara 2012"
  std::string uploadUrl;    // where a report could be sent
  std::string privacyUrl;   // the privacy page shown with a report
  std::string reportFolder = ".";  // where the report file is written
};

// Returns 0 on success, non-zero when the handlers could not be installed.
int crashReporterInstall(const CrashReportInfo& info);
void crashReporterUninstall();

}  // namespace Quorvel::port
