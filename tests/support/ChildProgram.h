// A program the tests start as a child process: its standard output is read
// by a thread of its own into lines, which a test waits for (bounded, never
// timed); it is signalled and reaped by the test, and killed if the test
// leaves it running. Also a plain HTTP GET against the loopback server.
// Used by one test thread at a time.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace Quorvel::testing {

class ChildProgram {
 public:
  // Starts `program` with `args` in `workingDir`; `env` replaces or adds
  // variables of the test's environment, and a variable set to "\x01" is
  // left out.
  ChildProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDir,
               const std::map<std::string, std::string>& env) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    // The test may block signals in its threads; the child starts clean.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

    std::map<std::string, std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const auto eq = entry.find('=');
      if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : env) {
      if (value == "\x01") {
        all.erase(name);
      } else {
        all[name] = value;
      }
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : all) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    reader_ = std::thread([this, fd = out[0]] { readLines(fd); });
  }

  ~ChildProgram() {
    if (pid_ > 0 && !exitCode_) {
      kill(pid_, SIGKILL);
      waitExit();
    }
    if (reader_.joinable()) reader_.join();
  }

  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The first match of `pattern` in a line of the output, waiting at most
  // `limit` (a bound for a hung child, not a measurement); nullopt when the
  // output ended or the bound passed first.
  std::optional<std::smatch> waitForLine(const std::string& pattern,
                                         std::chrono::seconds limit = std::chrono::seconds(30)) {
    const std::regex re(pattern);
    std::unique_lock<std::mutex> hold(mutex_);
    std::optional<std::smatch> found;
    changed_.wait_for(hold, limit, [&] {
      for (const auto& line : lines_) {
        std::smatch match;
        if (std::regex_search(line, match, re)) {
          found = match;
          return true;
        }
      }
      return ended_;
    });
    return found;
  }

  std::string output() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

  void signal(int sig) { kill(pid_, sig); }

  // The exit code (128 + signal for a child a signal ended).
  int waitExit() {
    if (exitCode_) return *exitCode_;
    int status = 0;
    waitpid(pid_, &status, 0);
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return *exitCode_;
  }

 private:
  void readLines(int fd) {
    std::string partial;
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      partial.append(buffer, static_cast<std::size_t>(got));
      std::lock_guard<std::mutex> hold(mutex_);
      for (auto end = partial.find('\n'); end != std::string::npos; end = partial.find('\n')) {
        lines_.push_back(partial.substr(0, end));
        partial.erase(0, end + 1);
      }
      changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> hold(mutex_);
    if (!partial.empty()) lines_.push_back(partial);
    ended_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  std::optional<int> exitCode_;  // test thread only
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;  // notified under mutex_
  std::vector<std::string> lines_;   // guarded by mutex_
  bool ended_ = false;               // guarded by mutex_
};

// GET `target` from 127.0.0.1:`port` with the Host header the server
// accepts; the whole answer (status line, headers, body), empty when the
// connection failed.
inline std::string httpGet(std::uint16_t port, const std::string& target) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval bound{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return answer;
}

}  // namespace Quorvel::testing
