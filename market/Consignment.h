// Consignment and purchase limits: the marketplace steps of a delivery
// between taking the cards and finishing it.
//
// checkPurchaseLimits refuses a goods line whose quantity exceeds the
// category's "limit_number" (code 6) or whose buyer is on the blacklist (code
// 7). consignOrder marks the order shipped on the marketplace: it reads the
// consign page (following its redirect to wherever the site serves it now),
// fills in the consign form with an empty tracking number and the delivery
// text as the note, posts it back to the address that served it, and checks
// the confirmation (codes 2, 3, 4, 99). Both raise OrderException.
//
// Called by the order worker with no database transaction open: a request
// may take as long as the client's transfer time-out. Any thread may call
// them; they touch no table (the blacklist is read through the settings).
#pragma once

#include <cstddef>
#include <string>

#include "market/HttpClient.h"
#include "store/Category.h"
#include "store/Order.h"

namespace Quorvel {

// What a consignment came to, for the order log and for the caller that has
// to tell a refusal from an answer that never came.
struct ConsignOutcome {
  bool posted = false;       // the form was posted
  bool answered = false;     // the POST got a 2xx answer
  std::string reason;        // why no usable answer came (client's reason or "HTTP nnn")
  std::string confirmation;  // the confirmation's text, when the shipment was confirmed
};

// The note longer texts are cut to, and the longest text sent whole.
inline constexpr size_t kConsignNoteWhole = 128;
inline constexpr size_t kConsignNoteCut = 100;

// Raises OrderException("发货失败：单件购买限制", 6) when the category's ext
// has a "limit_number" above 0 and the line's quantity exceeds it (an ext
// that is not JSON, or without the member, has no limit), and
// OrderException("发货失败：黑名单限制", 7) when order.buyer is on the
// blacklist (the setting "black_list", read at every call). A
// "limit_number" that is not a number raises the JSON library's exception.
void checkPurchaseLimits(const CategoryRecord& category, const OrderInfo& order, const OrderGoods& line);

// Consigns the marketplace order `orderId` with `text` as its note (see
// consignNote). Raises OrderException 2 ("当前订单不可进行发货处理": the page
// does not offer the order for shipping, or could not be read), 3
// ("未找到发货表单"), 99 ("发货匹配规则1失败": a form without inputs), 4
// ("发货失败！": no confirmation; `outcome` tells whether an answer came at
// all). Fills `outcome` when it is not null.
void consignOrder(const std::string& orderId, const std::string& text, ConsignOutcome* outcome = nullptr);

// The inputs of the consign form on `page` (the consign page's body), as
// consignOrder posts them before it sets its own fields. Raises the
// OrderException 2, 3 or 99 that consignOrder raises for such a page.
FormFields readConsignForm(const std::string& page);

// The note sent with the consignment: the whole text when it is at most 128
// bytes, otherwise its first 100 bytes, cut between two GBK characters (so
// 99 bytes when byte 100 is the first half of a character).
std::string consignNote(const std::string& text);

}  // namespace Quorvel
