// The seller memo of a marketplace order: after a confirmed consignment the
// delivery writes its text into the order's memo, with a flag, so that the
// seller sees on the marketplace what was sent.
//
// Called by the order worker with no database transaction open; any thread
// may call it.
#pragma once

#include <string>

#include "market/HttpClient.h"
#include "store/Order.h"

namespace Quorvel {

// Reads the memo page of order.order_id, fills in its form ("flag" 1, "memo"
// the whole order.send_msg) and posts it back to the same address. Raises
// OrderException("查询表单失败", the C runtime's error number) when the page
// shows no memo form (or could not be read), ("发货匹配规则1失败", 99) for a
// form without inputs, and ("卖家备注提交失败：" + reason, 4) when the POST
// got no answer. What an answer says is not examined (the site gives no
// marker to check). Returns the answer's status code.
int updateSellerMemo(const OrderInfo& order);

// The inputs of the memo form on `page` (the memo page's body), as
// updateSellerMemo posts them before it sets "flag" and "memo". Raises the
// OrderException "查询表单失败" or 99 that updateSellerMemo raises for such a
// page.
FormFields readMemoForm(const std::string& page);

}  // namespace Quorvel
