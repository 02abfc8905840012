// delivery_driver: one order tick's marketplace steps (discovery, details,
// delivery) as a program of its own, for the crash test, which kills it and
// starts it again the way a seller's machine would.
//
//   delivery_driver <database> <cookie file>
//
// The database holds the settings (market_base points at the simulator).
// With QUORVEL_KILL_AT set to a point of delivery/DeliveryProbe.h, the
// program kills itself with SIGKILL the first time a delivery reaches it:
// nothing is flushed, rolled back or closed. Exits 0 after the tick, 1 when
// the tick raised.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "delivery/DeliveryProbe.h"
#include "delivery/MarketPipeline.h"
#include "market/CookieJar.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/ThreadConnections.h"

namespace {

class KillAt : public Quorvel::DeliveryProbe {
 public:
  explicit KillAt(std::string point) : point_(std::move(point)) {}
  void reached(const std::string& point, const std::string&) override {
    if (point == point_) ::kill(::getpid(), SIGKILL);
  }

 private:
  std::string point_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace Quorvel;
  if (argc != 3) {
    std::fprintf(stderr, "usage: delivery_driver <database> <cookie file>\n");
    return 2;
  }
  auto options = std::make_shared<DatabaseOptions>();
  options->path = argv[1];
  Env env;
  env.set(options);
  installProcessWide(std::make_shared<ThreadConnections>(env));
  CookieJar::instance()->open(argv[2]);
  if (const char* point = std::getenv("QUORVEL_KILL_AT")) env.set<DeliveryProbe>(std::make_shared<KillAt>(point));
  try {
    upgradeDatabase();
    MarketPipeline pipeline(env);
    std::shared_ptr<IDb> db = getDb();
    pipeline.fetchPaidOrders(db);
    pipeline.parseNewOrders(db);
    pipeline.deliverOrders(db);
  } catch (Exception e) {
    std::fprintf(stderr, "delivery_driver: %s\n", e.message().c_str());
    return 1;
  }
  return 0;
}
