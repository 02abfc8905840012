// File names of the programs the system's parts start, on this system
// (port/<system>/ProgramNames.cpp).
#pragma once

#include <vector>

namespace Quorvel::port {

// The main program, started by the updater once an update is installed.
extern const char* const kMainProgram;
// The update installer.
extern const char* const kUpdaterProgram;
// The name under which a new version of the updater is staged, since a running
// program cannot replace itself everywhere.
extern const char* const kUpdaterStaged;
// The browsers the web UI is opened in, tried in this order.
extern const std::vector<const char*> kBrowserPrograms;

}  // namespace Quorvel::port
