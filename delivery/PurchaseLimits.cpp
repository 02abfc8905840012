#include "delivery/PurchaseLimits.h"

#include <json/value.h>

#include "base/Charset.h"
#include "delivery/OrderException.h"
#include "store/BlackList.h"

namespace Quorvel {

void checkPurchaseLimits(const CategoryRecord& category, const OrderInfo& order, const OrderGoods& line) {
  const Json::Value ext = Category::parseJson(category.ext);
  const int limit = ext.isNull() ? 0 : ext["limit_number"].asInt();
  if (limit > 0 && line.num > limit) throw OrderException(gbk("发货失败：单件购买限制"), kPurchaseLimit);
  if (BlackList().contains(order.buyer)) throw OrderException(gbk("发货失败：黑名单限制"), kBlacklisted);
}

}  // namespace Quorvel
