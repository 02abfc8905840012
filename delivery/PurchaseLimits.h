// The purchase limit and the blacklist: the delivery's rule that refuses a
// goods line before any card is taken for it. Called by the delivery
// procedure on the order worker thread, inside its reservation; reads the
// blacklist through the settings, any thread may call it.
#pragma once

#include "store/Category.h"
#include "store/Order.h"

namespace Quorvel {

// Raises OrderException("发货失败：单件购买限制", 6) when the category's ext
// has a "limit_number" above 0 and the line's quantity exceeds it (an ext
// that is not JSON, or without the member, has no limit), and
// OrderException("发货失败：黑名单限制", 7) when order.buyer is on the
// blacklist (the setting "black_list", read at every call). A
// "limit_number" that is not a number raises the JSON library's exception.
void checkPurchaseLimits(const CategoryRecord& category, const OrderInfo& order, const OrderGoods& line);

}  // namespace Quorvel
