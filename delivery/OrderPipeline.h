// OrderPipeline: the steps of one order tick of the daemon, in the order the
// order worker runs them. The marketplace client and the delivery procedure
// provide the real steps and install them with Deamon::setOrderPipeline.
//
// Called only by the daemon's order worker thread (an abandoned worker that is
// still finishing its tick may overlap with its successor). Each step raises
// the Exception family on failure; fetchPaidOrders raises AuthException when
// the marketplace asks for a login.
#pragma once

#include <memory>
#include <string>

namespace Quorvel {

class IDb;

class OrderPipeline {
 public:
  virtual ~OrderPipeline() = default;

  // Reads the paid orders on the marketplace and records every new one.
  virtual void fetchPaidOrders(const std::shared_ptr<IDb>& db) = 0;
  // Reads the details of every order found but not yet read.
  virtual void parseNewOrders(const std::shared_ptr<IDb>& db) = 0;
  // Delivers every order whose details are read.
  virtual void deliverOrders(const std::shared_ptr<IDb>& db) = 0;
  // Rates the buyers with `text`, at most every `minutes`.
  virtual void rateBuyers(const std::string& text, int minutes) = 0;
};

// What the daemon runs until the real steps are installed: every step does
// nothing, so a tick only refreshes the heartbeat and "checkLastTime".
std::shared_ptr<OrderPipeline> idleOrderPipeline();

}  // namespace Quorvel
