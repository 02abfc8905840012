// Starts another program without waiting for it: the browser that shows the
// web UI, and the main program once the updater has installed an update.
// Tests replace it with a fake, or use the system's launcher on a stand-in
// program.
//
// Implementations must be callable from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Quorvel::port {

struct ProcessStart {
  // A bare name is looked up on the search path; a name with a slash is a path
  // (relative paths are taken from `workingDir` when one is given).
  std::string program{};
  std::vector<std::string> args{};
  // The started program's working directory; empty keeps the caller's.
  std::string workingDir{};
  // Standard output and error go to the caller's when set, are discarded
  // otherwise. Standard input is always empty.
  bool keepOutput = false;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Starts the program detached from the caller (its own session; it outlives
  // the caller). Returns false when it could not be started: not found, not
  // executable, or the system refused to run it.
  virtual bool start(const ProcessStart& what) = 0;
};

std::shared_ptr<ProcessLauncher> systemProcessLauncher();

}  // namespace Quorvel::port
