// File names of the two programs on this system.
#pragma once

namespace Quorvel::port {

// The main program, started by the updater once an update is installed.
inline constexpr const char* kMainProgram = "vendara";
// The update installer.
inline constexpr const char* kUpdaterProgram = "refitter";
// The name under which a new version of the updater is staged, since a running
// program cannot replace itself everywhere.
inline constexpr const char* kUpdaterStaged = "refitter._exe";

}  // namespace Quorvel::port
