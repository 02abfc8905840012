// MarketPipeline: the order tick's steps on the real marketplace, installed
// into the daemon with Deamon::setOrderPipeline: discovery of paid orders and
// the reading of their details (delivery/OrderIntake.h), the delivery of every
// order whose details are read (delivery/OrderDelivery.h), and buyer rating
// (market/BuyerRating.h).
//
// Built with the Env its steps fetch with and whose clock paces the buyer
// rating. Called by the daemon's order worker (an abandoned worker finishing
// its tick may overlap with its successor; every step allows that).
#pragma once

#include <memory>
#include <string>

#include "delivery/OrderDelivery.h"
#include "delivery/OrderIntake.h"
#include "delivery/OrderPipeline.h"

namespace Quorvel {

class MarketPipeline : public OrderPipeline {
 public:
  explicit MarketPipeline(const Env& env) : env_(env), intake_(env), delivery_(env) {}

  void fetchPaidOrders(const std::shared_ptr<IDb>& db) override;
  void parseNewOrders(const std::shared_ptr<IDb>& db) override;
  void deliverOrders(const std::shared_ptr<IDb>& db) override;
  void rateBuyers(const std::string& text, int minutes) override;

 private:
  const Env env_;
  OrderIntake intake_;
  OrderDelivery delivery_;
};

}  // namespace Quorvel
