// Fixture for tests of the marketplace steps against the in-process
// simulator: a fresh database (StoreFixture), a clock that moves only by the
// pauses asked of it (or by hand) and an Env on it for the steps under test,
// market-sim on a free port with every request logged in and no demo shop,
// every marketplace host pointed at it, the seller's notices by e-mail, a
// cookie file of the test's own, and two connections: the test thread's and
// one of its own to read the file back.
#pragma once

#include <memory>
#include <string>

#include "base/Env.h"
#include "base/ProcessWide.h"
#include "market/CookieJar.h"
#include "sim/MarketSim.h"
#include "store/SystemConfig.h"
#include "tests/market/TempFolder.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel::testing {

inline constexpr std::int64_t kSimStoreNow = 1'700'000'000;

class SimStoreFixture : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(clock_);
    SimOptions options;
    options.open = true;
    options.demoShop = false;
    sim_ = std::make_unique<MarketSim>(options);
    sim_->start(0);
    config_ = SystemConfig::instance();
    config_->set(getDb(), "market_base", sim_->baseUrl());
    config_->set(getDb(), "notice_type_email", "1");
    config_->set(getDb(), "notice_mailto", "seller@example.com");
    CookieJar::instance()->open(folder_.file("cookie.txt"));
    db_ = getDb();
    file_ = otherConnection();
  }

  void TearDown() override {
    sim_->stop();
    StoreFixture::TearDown();
  }

  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>(kSimStoreNow, true);
  Env env_{clock_};  // the default client options
  TempFolder folder_;
  std::unique_ptr<MarketSim> sim_;
  std::shared_ptr<SystemConfig> config_;
  std::shared_ptr<IDb> db_;
  std::shared_ptr<IDb> file_;  // the same file through a connection of its own
};

}  // namespace Quorvel::testing
