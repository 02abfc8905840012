#include "delivery/MarketPipeline.h"

#include "market/BuyerRating.h"

namespace Quorvel {

void MarketPipeline::fetchPaidOrders(const std::shared_ptr<IDb>& db) { intake_.fetchPaidOrders(db); }

void MarketPipeline::parseNewOrders(const std::shared_ptr<IDb>& db) { intake_.parseNewOrders(db); }

void MarketPipeline::deliverOrders(const std::shared_ptr<IDb>& db) { delivery_.deliverOrders(db); }

void MarketPipeline::rateBuyers(const std::string& text, int minutes) {
  Comment::instance()->rateBuyers(env_, text, minutes);
}

}  // namespace Quorvel
