// The running program under load, the way the page talks to it: a new
// connection per request. Prepares a working folder with a database of
// 100,000 cards (one category) and 30 settings, starts the real `vendara`
// there (with a PATH that holds no browser, so nothing is opened), and for 1,
// 8 and 64 clients reports requests per second and the program's CPU per
// request, read from /proc/<pid>/stat (user + system time of all its
// threads), for getStatus, getConfig and "item lst" (20 cards per page, the
// last page); then cards per second for "item add" of one card per request.
// Every CPU figure is also given as a ratio to getStatus's at the same
// number of clients, beside the goal it has.
//
// Beside nginx (when one is installed; --nginx names it), serving the exact
// bytes of the getStatus answer from a file with one worker and no access
// log, under the same load: both request rates and their ratio at 1, 8 and
// 64 clients. Then the time from starting the program to its port taking a
// connection, against nginx's, median of several starts; and the program's
// resident memory when idle, after start and after the load.
//
//   build/bench/app/app_bench [--program PATH] [--dir DIR] [--seconds S] [--cards N] [--nginx PATH] [--keep]
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

#include <algorithm>
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
using Steady = std::chrono::steady_clock;

struct Options {
  std::string program = QUORVEL_VENDARA;
  fs::path dir;
  double seconds = 3;
  int cards = 100000;
  std::string nginx = "/usr/sbin/nginx";
  bool keep = false;
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "app_bench: %s\n", what.c_str());
  std::exit(1);
}

// A started server: the program, or nginx beside it.
struct Program {
  pid_t pid = 0;
  std::uint16_t port = 0;
  std::string key;  // the launch key every request carries (none for nginx)
};

// The environment with PATH replaced by `path`.
std::vector<std::string> environmentWithPath(const std::string& path) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "PATH=", 5) != 0) env.emplace_back(*e);
  }
  env.push_back("PATH=" + path);
  return env;
}

// Starts `argv` in `dir`, its output into `out`.
pid_t spawnIn(const fs::path& dir, const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const fs::path& out) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) fail("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

bool accepts(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// The program, started in `dir` with its output in dir/out.txt; `startup`
// is the time from the start to its port taking a connection.
Program start(const Options& options, const fs::path& dir, double* startup = nullptr) {
  // The program opens the web page with the first browser it finds on PATH;
  // an empty folder as PATH means it finds none and goes on at once.
  fs::create_directories(dir / "no-browser");
  const std::vector<std::string> env = environmentWithPath((dir / "no-browser").string());
  const fs::path out = dir / "out.txt";
  const auto begin = Steady::now();
  Program started;
  started.pid = spawnIn(dir, {fs::absolute(options.program).string()}, env, out);

  // The port, then the page's address with the launch key in its fragment
  // (a build without a key prints none; its requests then carry none).
  const std::string marker = "Local server listening on 127.0.0.1:";
  const std::string keyMarker = "#token=";
  auto deadline = Steady::now() + std::chrono::seconds(30);
  bool listening = false;
  while (Steady::now() < deadline) {
    std::ifstream file(out);
    std::string line;
    while (std::getline(file, line)) {
      auto at = line.find(marker);
      if (at != std::string::npos) started.port = static_cast<std::uint16_t>(std::atoi(line.c_str() + at + marker.size()));
      if (started.port != 0 && !listening && accepts(started.port)) {
        listening = true;
        if (startup) *startup = std::chrono::duration<double>(Steady::now() - begin).count();
      }
      if (started.port == 0 || line.rfind("Web UI: ", 0) != 0) continue;
      at = line.find(keyMarker);
      if (at != std::string::npos) started.key = line.substr(at + keyMarker.size());
      if (listening) return started;
    }
    int status = 0;
    if (waitpid(started.pid, &status, WNOHANG) == started.pid) fail("the program ended at start-up; see " + out.string());
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(started.pid, SIGKILL);
  fail("the program did not report its port within 30 s; see " + out.string());
}

// A port no one listens on now.
std::uint16_t freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    fail("cannot find a free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

// nginx in dir/nginx serving `body` (the program's own answer) for every
// address, with the program's content type: one worker, no access log, a
// new connection per request. `startup` as for start().
Program startNginx(const Options& options, const fs::path& dir, const std::string& body, double* startup) {
  const fs::path home = dir / "nginx";
  fs::create_directories(home / "logs");
  std::ofstream(home / "status.js", std::ios::binary) << body;
  Program started;
  started.port = freePort();
  std::ofstream(home / "nginx.conf")
      << "worker_processes 1; daemon off; master_process off;\n"
      << "error_log " << (home / "logs/error.log").string() << ";\npid " << (home / "logs/nginx.pid").string() << ";\n"
      << "events { worker_connections 1024; }\n"
      << "http { access_log off; keepalive_timeout 0; types {} default_type \"text/javascript;charset=utf-8\";\n"
      << "  server { listen 127.0.0.1:" << started.port << "; root " << home.string()
      << "; location / { try_files /status.js =404; } } }\n";
  const auto begin = Steady::now();
  started.pid = spawnIn(home, {options.nginx, "-p", home.string(), "-c", (home / "nginx.conf").string(), "-e",
                               (home / "logs/error.log").string()},
                        environmentWithPath("/usr/sbin:/usr/bin"), home / "out.txt");
  auto deadline = Steady::now() + std::chrono::seconds(10);
  while (Steady::now() < deadline) {
    if (accepts(started.port)) {
      if (startup) *startup = std::chrono::duration<double>(Steady::now() - begin).count();
      return started;
    }
    int status = 0;
    if (waitpid(started.pid, &status, WNOHANG) == started.pid) fail("nginx ended at start-up; see " + home.string());
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(started.pid, SIGKILL);
  fail("nginx did not listen within 10 s");
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
  return "GET " + target + key + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(program.port) +
         "\r\nConnection: close\r\n\r\n";
}

// Resident memory of the process, in MB.
double residentMb(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
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
  const auto begin = Steady::now();
  const auto end = begin + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      for (int i = 0; Steady::now() < end; ++i) {
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
  result.seconds = std::chrono::duration<double>(Steady::now() - begin).count();
  result.cpu = cpuSeconds(program.pid) - cpuBefore;
  result.requests = done;
  result.failures = failures;
  return result;
}

// `goal`: the most the CPU ratio to getStatus may be (0: none).
void report(const char* action, int clients, const Result& result, const Result* base, double goal = 0) {
  std::printf("%-10s %7d %9d %9.0f %11.1f", action, clients, result.requests, result.rate(), result.cpuMicros());
  if (base) {
    const double ratio = result.cpuMicros() / base->cpuMicros();
    std::printf(" %9.2f", ratio);
    if (goal > 0) std::printf("  (goal <= %.1f: %s)", goal, ratio <= goal ? "met" : "MISSED");
  }
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
    } else if (arg == "--nginx") {
      options.nginx = value();
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
  double firstStart = 0;
  Program program = start(options, options.dir, &firstStart);
  std::printf("%s: pid %d, port %u\n\n", options.program.c_str(), program.pid, program.port);

  const std::string status = get(program, "/?do=getStatus&callback=cb");
  const std::string config = get(program, "/?do=getConfig&callback=cb");
  const int lastPage = std::max((options.cards + 19) / 20, 1);
  const std::string list = get(program, "/?do=item&action=lst&callback=cb&_postData=" +
                               percentEncode("cg_id=1&page_num=20&page=" + std::to_string(lastPage)));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double idleAtStart = residentMb(program.pid);
  // Warm-up: the first requests open connections and load the stores.
  for (int i = 0; i < 200; ++i) {
    exchange(program.port, status);
    exchange(program.port, config);
    exchange(program.port, list);
  }

  std::printf("%-10s %7s %9s %9s %11s %9s\n", "action", "clients", "requests", "req/s", "CPU us/req", "x status");
  const double seconds = options.seconds;
  std::vector<std::pair<int, double>> statusRates;
  for (int clients : {1, 8}) {
    Result base = load(program, clients, seconds, [&](int, int) { return status; });
    statusRates.emplace_back(clients, base.rate());
    report("getStatus", clients, base, nullptr);
    report("getConfig", clients, load(program, clients, seconds, [&](int, int) { return config; }), &base, 1.3);
    report("item lst", clients, load(program, clients, seconds, [&](int, int) { return list; }), &base, 1.5);
  }
  Result wide = load(program, 64, seconds, [&](int, int) { return status; });
  statusRates.emplace_back(64, wide.rate());
  report("getStatus", 64, wide, nullptr);
  for (int clients : {1, 8}) {
    Result added = load(program, clients, seconds, [&](int c, int i) {
      std::string card = std::to_string(c) + "-" + std::to_string(i);
      return get(program, "/?do=item&action=add&callback=cb&_postData=" +
                 percentEncode("cg_id=2&data1=ADD" + card + "&data2=PWD" + card + "&data3="));
    });
    report("item add", clients, added, nullptr);
  }
  std::printf("\n(item add: req/s is cards per second)\n");

  // The answer nginx serves: the program's own getStatus body, byte for byte.
  std::string answer = exchange(program.port, status);
  const auto bodyAt = answer.find("\r\n\r\n");
  const std::string body = bodyAt == std::string::npos ? std::string() : answer.substr(bodyAt + 4);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double idleAfterLoad = residentMb(program.pid);
  stop(program);

  // Starts of the program on the same folder, and of nginx.
  std::vector<double> starts;
  for (int i = 0; i < 5; ++i) {
    double startup = 0;
    Program again = start(options, options.dir, &startup);
    starts.push_back(startup);
    stop(again);
  }
  const bool haveNginx = access(options.nginx.c_str(), X_OK) == 0;
  if (haveNginx) {
    std::printf("\ngetStatus beside nginx serving the same %zu bytes (one worker, no access log):\n", body.size());
    std::printf("%7s %12s %12s %9s\n", "clients", "vendara/s", "nginx/s", "ratio");
    program = start(options, options.dir);
    const std::string again = get(program, "/?do=getStatus&callback=cb");
    for (int i = 0; i < 200; ++i) exchange(program.port, again);
    Program nginx = startNginx(options, options.dir, body, nullptr);
    const std::string nginxStatus = get(nginx, "/?do=getStatus&callback=cb");
    for (int i = 0; i < 200; ++i) exchange(nginx.port, nginxStatus);
    for (int clients : {1, 8, 64}) {
      // Side by side, twice each, so a slow moment of the machine falls on both.
      double ours = 0, theirs = 0;
      for (int round = 0; round < 2; ++round) {
        ours += load(program, clients, seconds / 2, [&](int, int) { return again; }).rate();
        theirs += load(nginx, clients, seconds / 2, [&](int, int) { return nginxStatus; }).rate();
      }
      const double ratio = ours / theirs;
      std::printf("%7d %12.0f %12.0f %9.2f  (goal >= 1.0: %s)\n", clients, ours / 2, theirs / 2, ratio,
                  ratio >= 1.0 ? "met" : "MISSED");
    }
    stop(nginx);
    stop(program);
  } else {
    std::printf("\n%s not found: the comparison with nginx is skipped (apt-get install nginx-light).\n",
                options.nginx.c_str());
  }

  std::printf("\nstart to listening: %.1f ms (median of %zu starts; first start %.1f ms)", median(starts) * 1e3,
              starts.size(), firstStart * 1e3);
  if (haveNginx) {
    std::vector<double> nginxStarts;
    for (int i = 0; i < 5; ++i) {
      double startup = 0;
      Program nginx = startNginx(options, options.dir, body, &startup);
      nginxStarts.push_back(startup);
      stop(nginx);
    }
    const double ratio = median(starts) / median(nginxStarts);
    std::printf("; nginx %.1f ms, ratio %.2f (goal <= 1.5: %s)", median(nginxStarts) * 1e3, ratio,
                ratio <= 1.5 ? "met" : "MISSED");
  }
  std::printf("\nresident memory when idle: %.1f MB after start, %.1f MB after the load (goal < 30 MB: %s)\n",
              idleAtStart, idleAfterLoad, std::max(idleAtStart, idleAfterLoad) < 30 ? "met" : "MISSED");

  if (!options.keep) fs::remove_all(options.dir);
  return 0;
}
