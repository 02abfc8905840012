// The seller memo of a marketplace order: after a confirmed consignment the
// delivery writes its text into the order's memo, with a flag, so that the
// seller sees on the marketplace what was sent. updateSellerMemo returns what
// came of it; what a failure means for the order is the delivery's to say
// (delivery/MarketSteps.h).
//
// Called by the order worker with no database transaction open; any thread
// may call it.
#pragma once

#include <string>

#include "market/HttpClient.h"
#include "store/Order.h"

namespace Quorvel {

// Why a memo was not written.
enum class MemoRefusal {
  kNone,               // posted, and an answer came
  kNoForm,             // the memo page shows no memo form, or could not be read
  kFormWithoutInputs,  // the memo form has no input the program can read
  kUnanswered,         // the POST got no answer
};

// The memo form of one page: its inputs, or why there are none to post.
struct MemoForm {
  MemoRefusal refusal = MemoRefusal::kNone;
  FormFields fields;
};

struct MemoOutcome {
  MemoRefusal refusal = MemoRefusal::kNone;
  int status = 0;      // the answer's status code, when one came
  std::string reason;  // the client's reason, when none came
};

// Reads the memo page of order.order_id, fills in its form ("flag" 1, "memo"
// the whole order.send_msg) and posts it back to the same address. What an
// answer says is not examined (the site gives no marker to check). The pages
// are fetched with `env` (market/HttpClient.h).
MemoOutcome updateSellerMemo(const Env& env, const OrderInfo& order);

// The inputs of the memo form on `page` (the memo page's body), as
// updateSellerMemo posts them before it sets "flag" and "memo".
MemoForm readMemoForm(const std::string& page);

}  // namespace Quorvel
