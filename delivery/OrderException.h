// OrderException: a delivery that cannot go on, with the order's reason code
// (the order's status becomes 1000 + code and its text the message). Raised
// by the delivery procedure and its rules (purchase limits, the marketplace
// steps' refusals) and caught by the delivery, on the order worker thread.
// Raised and caught by value.
#pragma once

#include "base/Exception.h"

namespace Quorvel {

class OrderException : public Exception {
 public:
  using Exception::Exception;
};

// The reason codes and their messages.
enum OrderFailure : int {
  kOutOfStock = 1,         // "库存不足"
  kNotConsignable = 2,     // "当前订单不可进行发货处理"
  kNoConsignForm = 3,      // "未找到发货表单"
  kConsignRefused = 4,     // "发货失败！"
  kWrongOrderState = 5,    // "错误的订单状态"
  kPurchaseLimit = 6,      // "发货失败：单件购买限制"
  kBlacklisted = 7,        // "发货失败：黑名单限制"
  kNotBound = 8,           // "未绑定，未发货": no goods line bound to an enabled category
  kFormWithoutInputs = 99, // "发货匹配规则1失败"
};

}  // namespace Quorvel
