// The online backup of a large stock while the web UI writes: one copy of a
// database of N cards (1,000,000 by default) into backup/, with a writer
// committing one card at a time beside it. Prints the copy's time and size,
// and the writer's commits during the copy with their slowest and median
// time, against the same writer without a copy running. The database sits
// in TMPDIR.
//
//   build/bench/store/backup_bench [cards]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "base/ProcessWide.h"
#include "bench/support/BenchDatabase.h"
#include "store/Backups.h"
#include "store/Db.h"

namespace {

using namespace Quorvel;
using Steady = std::chrono::steady_clock;

double ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Commits one card at a time until `stop`; the time of each commit.
std::vector<double> write(const std::string& path, const std::atomic<bool>& stop) {
  auto db = std::make_shared<Db>(Env(), path)->connect();
  std::vector<double> times;
  for (int k = 0; !stop; ++k) {
    const auto start = Steady::now();
    db->begin();
    db->execute(std::make_shared<SQL>("insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) "
                                      "values (1, ?, 'p', '', '')")
                    ->bind("W" + std::to_string(k)));
    db->commit();
    times.push_back(ms(Steady::now() - start));
  }
  return times;
}

void report(const char* what, std::vector<double> times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  std::printf("%s: %zu commits, median %.2f ms, slowest %.2f ms\n", what, times.size(), times[times.size() / 2],
              times.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 1000000;
  bench::BenchDatabase database("backup");
  {
    auto db = std::make_shared<Db>(Env(), database.path())->connect();
    db->exec("with recursive n(i) as (select 1 union all select i+1 from n where i<" + std::to_string(cards) +
             ") insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) "
             "select 1 + i%20, 'CARD'||i, 'PASSWORD'||i, '', case when i%10=0 then '' else '已发货：订单号：'||i end from n");
    db->exec("pragma wal_checkpoint(TRUNCATE)");
  }
  std::atomic<bool> stop{false};
  std::vector<double> alone;
  {
    std::thread writer([&] { alone = write(database.path(), stop); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    writer.join();
  }
  stop = false;
  std::vector<double> beside;
  std::thread writer([&] { beside = write(database.path(), stop); });
  const auto start = Steady::now();
  Backups backups;
  const BackupCopy copy = backups.takeNow(1);
  const double took = ms(Steady::now() - start);
  stop = true;
  writer.join();
  std::printf("%d cards: copy %s of %.1f MB in %.0f ms\n", cards, copy.name.c_str(), copy.size / 1e6, took);
  report("writer alone (2 s)", alone);
  report("writer during the copy", beside);
  return 0;
}
