#include "delivery/OrderPipeline.h"

namespace Quorvel {

namespace {

// Installed until the order steps exist: no order is looked at, none is
// delivered and nothing claims otherwise.
class IdleOrderPipeline : public OrderPipeline {
 public:
  void fetchPaidOrders(const std::shared_ptr<IDb>&) override {}
  void parseNewOrders(const std::shared_ptr<IDb>&) override {}
  void deliverOrders(const std::shared_ptr<IDb>&) override {}
  void rateBuyers(const std::string&, int) override {}
};

}  // namespace

std::shared_ptr<OrderPipeline> idleOrderPipeline() { return std::make_shared<IdleOrderPipeline>(); }

}  // namespace Quorvel
