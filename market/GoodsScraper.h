// GoodsScraper: the goods refresh's source on the real marketplace. Reads one
// page of the seller's on-sale list (goods_on_sale.htm?page=N on the seller
// site) through the marketplace HTTP client, with the session's cookies, and
// picks out every item by the picture anchor that wraps it. It is the
// GoodsSource entry of the program's Env and fetches with the client's part
// of that Env (httpEnvOf), taken when it is built.
//
// Any thread may use it (the goods refresh calls it page by page).
#pragma once

#include <string>
#include <vector>

#include "base/Env.h"
#include "store/GoodsSource.h"

namespace Quorvel {

class GoodsScraper : public GoodsSource {
 public:
  explicit GoodsScraper(const Env& env);

  // Raises AuthException when the page shows the marketplace's login box
  // (the session is gone: the list would look empty without being so).
  std::vector<GoodsRecord> page(int page) override;

  // The items on one on-sale page body (GBK), in page order.
  static std::vector<GoodsRecord> parse(const std::string& body);

  // The item pattern: group 1 the item page address on the item host, group
  // 2 the item id, group 3 the title, group 4 the picture address.
  static std::string itemPattern();

 private:
  const Env env_;  // the client's part of the Env it was built with
};

}  // namespace Quorvel
