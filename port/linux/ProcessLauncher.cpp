#include "port/ProcessLauncher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace Quorvel::port {

namespace {

// posix_spawnp reports a failed exec as its own result (the child is started
// with vfork semantics), so "could not be started" is known before it returns.
// A small detached thread reaps the child so that it leaves no zombie while
// the caller lives; after that the child belongs to init.
class SystemProcessLauncher : public ProcessLauncher {
 public:
  bool start(const ProcessStart& what) override {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!what.keepOutput) {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (!what.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, what.workingDir.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(what.program.c_str()));
    for (const auto& arg : what.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, what.program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
  }
};

}  // namespace

std::shared_ptr<ProcessLauncher> systemProcessLauncher() { return std::make_shared<SystemProcessLauncher>(); }

}  // namespace Quorvel::port
