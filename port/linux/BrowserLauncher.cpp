#include "port/BrowserLauncher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

extern char** environ;

namespace Quorvel::port {

namespace {

// Starts `program url` in its own session with its output discarded. The
// spawn fails when the program cannot be found or executed. A small detached
// thread reaps the child so that it leaves no zombie.
bool startDetached(const std::string& program, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
}

class SystemBrowserLauncher : public BrowserLauncher {
 public:
  bool open(const std::string& url) override {
    for (const char* browser : {"google-chrome", "chromium", "chromium-browser", "firefox", "xdg-open"}) {
      if (startDetached(browser, {url})) return true;
    }
    return false;
  }
};

}  // namespace

std::shared_ptr<BrowserLauncher> systemBrowserLauncher() { return std::make_shared<SystemBrowserLauncher>(); }

}  // namespace Quorvel::port
