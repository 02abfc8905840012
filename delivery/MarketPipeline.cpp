#include "delivery/MarketPipeline.h"

namespace Quorvel {

void MarketPipeline::fetchPaidOrders(const std::shared_ptr<IDb>& db) { scraper_.fetchPaidOrders(db); }

void MarketPipeline::parseNewOrders(const std::shared_ptr<IDb>& db) { scraper_.parseNewOrders(db); }

// Orders wait at status 1 until the delivery procedure is built.
void MarketPipeline::deliverOrders(const std::shared_ptr<IDb>&) {}

void MarketPipeline::rateBuyers(const std::string&, int) {}

}  // namespace Quorvel
