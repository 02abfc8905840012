// MarketPipeline: the order tick's steps on the real marketplace, installed
// into the daemon with Deamon::setOrderPipeline. Discovery of paid orders and
// the reading of their details are the order scraper's (market/OrderScraper.h);
// delivery and buyer rating do nothing yet, so a tick records and reads the
// orders and leaves them waiting at status 1.
//
// Called by the daemon's order worker (an abandoned worker finishing its tick
// may overlap with its successor; the scraper allows that).
#pragma once

#include <memory>
#include <string>

#include "delivery/OrderPipeline.h"
#include "market/OrderScraper.h"

namespace Quorvel {

class MarketPipeline : public OrderPipeline {
 public:
  void fetchPaidOrders(const std::shared_ptr<IDb>& db) override;
  void parseNewOrders(const std::shared_ptr<IDb>& db) override;
  void deliverOrders(const std::shared_ptr<IDb>& db) override;
  void rateBuyers(const std::string& text, int minutes) override;

 private:
  OrderScraper scraper_;
};

}  // namespace Quorvel
