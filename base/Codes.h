// The numbers the program stores and exchanges, by name: the kinds of queued
// message (column `msg_queue`.`type`), the processing status of an order
// (column `orders`.`status`), and the fixed numbers of the protocols the
// program speaks. Constants only; any thread.
#pragma once

#include <cstdint>

namespace Quorvel {

// How a queued message reaches its addressee.
enum MsgType : int {
  kWebMessage = 0,   // the maker's messaging service ("web_send")
  kEmail = 1,        // e-mail, the way "email_send_type" says
  kChat = 2,         // the IM client, at once
  kWaitingChat = 3,  // the IM client, once the buyer's chat window is open
};
inline constexpr int kMsgTypeCount = 4;

// Where the program stands with one marketplace order. A failed delivery is
// kOrderFailed + its reason code.
enum OrderStatus : int {
  kOrderFound = 0,        // seen on the paid-orders list
  kOrderDetailsRead = 1,  // buyer and goods lines read, waiting for delivery
  kOrderDelivered = 2,    // cards taken, consigned, messages queued
  kOrderDelivering = 3,   // cards reserved, the marketplace not yet confirmed
  kOrderFailed = 1000,
};
constexpr int orderFailed(int reasonCode) { return kOrderFailed + reasonCode; }
constexpr bool isOrderFailed(int status) { return status >= kOrderFailed; }

// The web UI's version, sent to the maker's service in the page address.
inline constexpr int kUiVersion = 1105;

// The local server's ports are drawn from this range.
inline constexpr std::uint16_t kLocalPortMin = 10000;
inline constexpr std::uint16_t kLocalPortMax = 60000;

// Mail exchangers listen here; DNS servers answer here.
inline constexpr std::uint16_t kSmtpPort = 25;
inline constexpr std::uint16_t kDnsPort = 53;

}  // namespace Quorvel
