// The running program under load, the way the page talks to it: a new
// connection per request. Prepares a working folder with a database of
// 100,000 cards (one category) and 30 settings, starts the real `vendara`
// there (with a PATH that holds no browser, so nothing is opened), and for 1,
// 8 and 64 clients reports requests per second and the program's CPU per
// request, read from /proc/<pid>/stat (user + system time of all its
// threads), for getStatus, getConfig and "item lst" (20 cards per page, the
// last page); then cards per second for "item add" of one card per request.
//
//   build/bench/app/app_bench [--program PATH] [--dir DIR] [--seconds S] [--cards N] [--keep]
//
// --program runs another build of vendara (an older one, to compare);
// --dir puts its fresh working folder inside DIR (default: the system's
// temporary folder; put it on the disk you want to measure).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/Percent.h"
#include "bench/app/BenchDatabase.h"

extern char** environ;

using Quorvel::percentEncode;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string program = QUORVEL_VENDARA;
  fs::path dir;
  double seconds = 3;
  int cards = 100000;
  bool keep = false;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "app_bench: %s\n", what.c_str());
  std::exit(1);
}

// The program, started in `dir` with its output in dir/out.txt.
struct Program {
  pid_t pid = 0;
  std::uint16_t port = 0;
  std::string key;  // the launch key every request carries
};

Program start(const Options& options, const fs::path& dir) {
  // The program opens the web page with the first browser it finds on PATH;
  // an empty folder as PATH means it finds none and goes on at once.
  fs::create_directories(dir / "no-browser");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "PATH=", 5) != 0) env.emplace_back(*e);
  }
  env.push_back("PATH=" + (dir / "no-browser").string());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const std::string out = (dir / "out.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::string program = fs::absolute(options.program).string();
  char* argv[] = {program.data(), nullptr};
  Program started;
  int rc = posix_spawn(&started.pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) fail("cannot start " + program + ": " + std::strerror(rc));

  // The port, then the page's address with the launch key in its fragment
  // (a build without a key prints none; its requests then carry none).
  const std::string marker = "Local server listening on 127.0.0.1:";
  const std::string keyMarker = "#token=";
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    std::ifstream file(out);
    std::string line;
    while (std::getline(file, line)) {
      auto at = line.find(marker);
      if (at != std::string::npos) started.port = static_cast<std::uint16_t>(std::atoi(line.c_str() + at + marker.size()));
      if (started.port == 0 || line.rfind("Web UI: ", 0) != 0) continue;
      at = line.find(keyMarker);
      if (at != std::string::npos) started.key = line.substr(at + keyMarker.size());
      return started;
    }
    int status = 0;
    if (waitpid(started.pid, &status, WNOHANG) == started.pid) fail("the program ended at start-up; see " + out);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(started.pid, SIGKILL);
  fail("the program did not report its port within 30 s; see " + out);
}

void stop(const Program& program) {
  kill(program.pid, SIGTERM);
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(program.pid, &status, WNOHANG) == program.pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(program.pid, SIGKILL);
  waitpid(program.pid, nullptr, 0);
}

// User plus system time of every thread of the process, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields after the name start at the third (state); utime is the 14th.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// One request on a new connection; the whole answer, read until the program
// closes the connection (empty on failure).
std::string exchange(std::uint16_t port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char chunk[16384];
    for (;;) {
      ssize_t got = recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      answer.append(chunk, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return answer;
}

// A request as the page sends it: with the launch key and the Host it names.
std::string get(const Program& program, const std::string& target) {
  const std::string key = program.key.empty() ? std::string() : "&token=" + program.key;
  return "GET " + target + key + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(program.port) + "\r\n\r\n";
}

struct Result {
  int requests = 0;
  int failures = 0;
  double seconds = 0;
  double cpu = 0;
  double rate() const { return requests / seconds; }
  double cpuMicros() const { return cpu * 1e6 / requests; }
};

// `clients` threads send requests back to back for `seconds`; request i of
// client c is request(c, i). An answer counts when it is a successful
// envelope.
Result load(const Program& program, int clients, double seconds,
            const std::function<std::string(int client, int i)>& request) {
  std::atomic<int> done{0};
  std::atomic<int> failures{0};
  const double cpuBefore = cpuSeconds(program.pid);
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      for (int i = 0; Clock::now() < end; ++i) {
        std::string answer = exchange(program.port, request(c, i));
        if (answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.find("\"SUCCESS\" : 1") != std::string::npos) {
          ++done;
        } else {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  Result result;
  result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  result.cpu = cpuSeconds(program.pid) - cpuBefore;
  result.requests = done;
  result.failures = failures;
  return result;
}

void report(const char* action, int clients, const Result& result, const Result* base) {
  std::printf("%-10s %7d %9d %9.0f %11.1f", action, clients, result.requests, result.rate(), result.cpuMicros());
  if (base) std::printf(" %9.2f", result.cpuMicros() / base->cpuMicros());
  if (result.failures) std::printf("   (%d failed)", result.failures);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail("missing value for " + arg);
      return argv[++i];
    };
    if (arg == "--program") {
      options.program = value();
    } else if (arg == "--dir") {
      options.dir = value();
    } else if (arg == "--seconds") {
      options.seconds = std::atof(value().c_str());
    } else if (arg == "--cards") {
      options.cards = std::atoi(value().c_str());
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      fail("unknown argument " + arg);
    }
  }
  // The bench works in a folder of its own inside the one named, which it
  // alone creates and removes: the named folder and what else it holds are
  // never touched.
  const fs::path parent = options.dir.empty() ? fs::temp_directory_path() : fs::path(options.dir);
  options.dir = parent / ("vendara-bench-" + std::to_string(getpid()));
  if (fs::exists(options.dir)) fail(options.dir.string() + " already exists");

  std::printf("preparing %d cards in %s\n", options.cards, options.dir.c_str());
  std::fflush(stdout);
  try {
    Quorvel::bench::prepareBenchDatabase(options.dir, options.cards, QUORVEL_TEMPLATE_DB);
  } catch (const std::exception& e) {
    fail(e.what());
  }
  Program program = start(options, options.dir);
  std::printf("%s: pid %d, port %u\n\n", options.program.c_str(), program.pid, program.port);

  const std::string status = get(program, "/?do=getStatus&callback=cb");
  const std::string config = get(program, "/?do=getConfig&callback=cb");
  const int lastPage = std::max((options.cards + 19) / 20, 1);
  const std::string list = get(program, "/?do=item&action=lst&callback=cb&_postData=" +
                               percentEncode("cg_id=1&page_num=20&page=" + std::to_string(lastPage)));
  // Warm-up: the first requests open connections and load the stores.
  for (int i = 0; i < 200; ++i) {
    exchange(program.port, status);
    exchange(program.port, config);
    exchange(program.port, list);
  }

  std::printf("%-10s %7s %9s %9s %11s %9s\n", "action", "clients", "requests", "req/s", "CPU us/req", "x status");
  const double seconds = options.seconds;
  for (int clients : {1, 8}) {
    Result base = load(program, clients, seconds, [&](int, int) { return status; });
    report("getStatus", clients, base, nullptr);
    report("getConfig", clients, load(program, clients, seconds, [&](int, int) { return config; }), &base);
    report("item lst", clients, load(program, clients, seconds, [&](int, int) { return list; }), &base);
  }
  report("getStatus", 64, load(program, 64, seconds, [&](int, int) { return status; }), nullptr);
  for (int clients : {1, 8}) {
    Result added = load(program, clients, seconds, [&](int c, int i) {
      std::string card = std::to_string(c) + "-" + std::to_string(i);
      return get(program, "/?do=item&action=add&callback=cb&_postData=" +
                 percentEncode("cg_id=2&data1=ADD" + card + "&data2=PWD" + card + "&data3="));
    });
    report("item add", clients, added, nullptr);
  }
  std::printf("\n(item add: req/s is cards per second)\n");

  stop(program);
  if (!options.keep) fs::remove_all(options.dir);
  return 0;
}
