// The marketplace steps of a delivery in the delivery's own terms: the
// consignment and the seller memo (market/Consignment.h, market/SellerMemo.h)
// report what came of them, and these turn a refusal into the OrderException
// with the reason code and the message the order then carries.
//
// Called by the delivery procedure on the order worker thread with no
// database transaction open, with the delivery's Env; any thread may call
// them.
#pragma once

#include <string>

#include "delivery/OrderException.h"
#include "market/Consignment.h"
#include "store/Order.h"

namespace Quorvel {

// Consigns the order (consignOrder) and fills `outcome`. A refusal raises
// OrderException 2 ("当前订单不可进行发货处理"), 3 ("未找到发货表单"), 99
// ("发货匹配规则1失败": a form without inputs) or 4 ("发货失败！": no
// confirmation; `outcome` tells whether an answer came at all).
void consignForDelivery(const Env& env, const std::string& orderId, const std::string& text,
                        ConsignOutcome& outcome);

// The OrderException a consign refusal gives (see consignForDelivery).
OrderException consignFailure(ConsignRefusal refusal);

// Writes the seller memo (updateSellerMemo) and returns the answer's status
// code. Raises OrderException("查询表单失败", the C runtime's error number)
// when the page shows no memo form (or could not be read), ("发货匹配规则1失败",
// 99) for a form without inputs, and ("卖家备注提交失败：" + reason, 4) when
// the POST got no answer.
int writeSellerMemo(const Env& env, const OrderInfo& order);

}  // namespace Quorvel
