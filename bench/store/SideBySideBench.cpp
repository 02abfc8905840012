// The web UI and the delivery daemon on one database at once, with the
// write-ahead log and with the rollback journal. A "daemon" thread delivers
// orders back to back the way a delivery commits (a durable reservation,
// then a durable finish that marks one card sent); a "web UI" thread lists
// the last page of 20 cards and adds a card after every ninth listing. Both
// run for a few seconds on a 100,000-card category; the table shows how much
// each got done, how long the page's requests took and how many failed.
//
//   build/bench/store/side_by_side_bench [seconds]
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
#include "bench/app/BenchDatabase.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/Savepoint.h"
#include "store/ThreadConnections.h"

namespace Quorvel {
namespace {

using Steady = std::chrono::steady_clock;
constexpr int kCards = 100000;

struct Outcome {
  int deliveries = 0;
  int deliveryFailures = 0;
  std::vector<double> pageMicros;  // each web request, in microseconds
  int pageFailures = 0;
};

// One delivery as the daemon commits it: the reservation, then the finish.
void deliver(int n) {
  std::shared_ptr<IDb> db = getDb();
  db->begin();
  db->execute(std::make_shared<SQL>("insert into `orders` (`order_id`,`status`) values (?,3)")
                  ->bind("bench-" + std::to_string(n)));
  const int order = db->lastInsertId();
  db->commitDurable();
  db->begin();
  for (CardRecord card : Item::instance()->unsentCards(getDb(), 1, 1)) {
    card.send_order_id = "order bench-" + std::to_string(n);
    Item::instance()->update(getDb(), card);
  }
  db->execute(std::make_shared<SQL>("update `orders` set `status`=2 where `id`=?")->bind(order));
  db->commitDurable();
}

// The page's "item lst" of the last page, or an "item add".
void webRequest(int n) {
  std::shared_ptr<Item> items = Item::instance();
  if (n % 10 == 9) {
    CardRecord card;
    card.cg_id = 2;
    card.data1 = "ADD" + std::to_string(n);
    items->add(getDb(), card);
    return;
  }
  Savepoint snapshot(getDb());
  const int cards = items->cardCount(getDb(), 1);
  items->list(getDb(), 1, Item::pagesOf(cards, 20), 20, cards);
  snapshot.release();
}

Outcome run(bool writeAheadLog, double seconds, const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  bench::prepareBenchDatabase(dir, kCards, QUORVEL_TEMPLATE_DB);
  resetProcessWide();
  auto options = std::make_shared<DatabaseOptions>();
  options->path = (dir / "vendara2012.db").string();
  options->writeAheadLog = writeAheadLog;
  installProcessWide(std::make_shared<ThreadConnections>(Env().set(options)));

  Outcome outcome;
  const auto end = Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
  std::thread daemon([&] {
    for (int n = 0; Steady::now() < end; ++n) {
      try {
        deliver(n);
        ++outcome.deliveries;
      } catch (Exception) {
        ++outcome.deliveryFailures;
      }
      resetDbForNextAction();
    }
    releaseDb();
  });
  std::thread web([&] {
    for (int n = 0; Steady::now() < end; ++n) {
      const auto begin = Steady::now();
      try {
        webRequest(n);
        outcome.pageMicros.push_back(std::chrono::duration<double, std::micro>(Steady::now() - begin).count());
      } catch (Exception) {
        ++outcome.pageFailures;
      }
      resetDbForNextAction();
    }
    releaseDb();
  });
  daemon.join();
  web.join();
  resetProcessWide();
  return outcome;
}

void report(const char* mode, const Outcome& outcome, double seconds) {
  std::vector<double> micros = outcome.pageMicros;
  std::sort(micros.begin(), micros.end());
  auto at = [&](double share) { return micros.empty() ? 0.0 : micros[static_cast<std::size_t>(share * (micros.size() - 1))]; };
  std::printf("%-9s %12.0f %9d %12.0f %9.0f %9.0f %9.0f %9d\n", mode, outcome.deliveries / seconds,
              outcome.deliveryFailures, micros.size() / seconds, at(0.5), at(0.99), micros.empty() ? 0.0 : micros.back(),
              outcome.pageFailures);
  std::fflush(stdout);
}

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
  const auto dir = std::filesystem::temp_directory_path() / ("vendara-side-by-side-" + std::to_string(::getpid()));
  std::printf("%-9s %12s %9s %12s %9s %9s %9s %9s\n", "journal", "deliveries/s", "failed", "web reqs/s", "p50 us",
              "p99 us", "max us", "failed");
  Quorvel::report("rollback", Quorvel::run(false, seconds, dir), seconds);
  Quorvel::report("wal", Quorvel::run(true, seconds, dir), seconds);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
