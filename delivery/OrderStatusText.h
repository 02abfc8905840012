// The processing status of an order in words for the seller (GBK), as the
// web UI's order list and its CSV export show it: "新订单", "等待发货",
// "发货中", "已发货", or "发货失败：" with what the failure's reason code
// (delivery/OrderException.h) means; a status the program does not write is
// named by its number. A pure function; any thread.
#pragma once

#include <string>

namespace Quorvel {

std::string orderStatusText(int status);

}  // namespace Quorvel
