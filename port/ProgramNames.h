// File names of the two programs on this system (port/<system>/ProgramNames.cpp).
#pragma once

namespace Quorvel::port {

// The main program, started by the updater once an update is installed.
extern const char* const kMainProgram;
// The update installer.
extern const char* const kUpdaterProgram;
// The name under which a new version of the updater is staged, since a running
// program cannot replace itself everywhere.
extern const char* const kUpdaterStaged;

}  // namespace Quorvel::port
