// The simulator's control interface: JSON requests under the reserved path
// "/__sim/" that place items and paid orders, end the seller's sessions,
// switch faults and settings, and read back what a client did on the site.
// Bodies and answers are UTF-8 JSON; the shop holds GBK.
//
//   GET  /__sim/state       account, switches, faults, items and orders
//   POST /__sim/items       {"title", "price", "id"?, "picture"?}
//   POST /__sim/orders      {"buyer", "email"?, "ww"?, "state"?, "archive"?,
//                            "lines": [{"item_id", "num"}]} or, for one line,
//                           {"buyer", "item_id", "num"?}
//   POST /__sim/order_state {"order_id", "state", "after_requests"?}: at once,
//                           or once that many more seller pages were served
//   POST /__sim/logout      ends every session of the seller
//   GET  /__sim/consigned   [{"order_id", "note", "note_bytes", "posted_to",
//                            "fields": {every field posted}}]
//   GET  /__sim/memos       [{"order_id", "flag", "memo"}]
//   GET  /__sim/ratings     [{"trade_id", "rating", "comment"}]
//   GET  /__sim/chats       [touid, ...] (web IM pages opened)
//   GET|POST /__sim/faults  {"empty_answers", "slow_ms", "redirect_loop",
//                            "login_everywhere", "refuse_consign",
//                            "bare_consign_form", "drop_memo_form",
//                            "drop_post_answers", "consign_answer_delay_ms"};
//                           a POST changes the keys given
//   POST /__sim/settings    {"open", "consign_variant", "goods_page_size",
//                            "archive_prefix", "captcha", "consign_dummy"}
//                           ("captcha": every login asks for the verification
//                           code, given as "captcha_code" by /__sim/state;
//                           "consign_dummy" null: the variant's own value)
//
// Stateless apart from the shop it drives; any thread may call handle.
#pragma once

#include <string>

#include "sim/SimShop.h"

namespace Quorvel {

class SimControl {
 public:
  struct Answer {
    int status = 200;
    std::string json;  // UTF-8
  };

  static constexpr const char* kPrefix = "/__sim/";

  // `base` is the site's base address, used for the order detail addresses.
  SimControl(SimShop& shop, std::string base);

  Answer handle(const std::string& method, const std::string& path, const std::string& body);

 private:
  SimShop& shop_;
  std::string base_;
};

}  // namespace Quorvel
