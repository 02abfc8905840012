// The figures of the web UI's overview page, read-only: "getOverview"
// answers today's delivered, failed and waiting orders, the delivered and
// failed orders of each of the last kOverviewDays local days (oldest first),
// and each category's stock with a flag for those under the low-stock
// threshold (the setting "notice_store_num"):
//
//   {"SUCCESS": 1,
//    "TODAY": {"DELIVERED", "FAILED", "WAITING" (status 0, 1 or 3, of any day)},
//    "DAYS": [{"DAY": "YYYY-MM-DD", "DELIVERED", "FAILED"}, ...],
//    "STOCK": [{"id", "name", "store_num", "store_total_num", "low"}],
//    "LOW_STOCK": threshold}
//
// An order counts on the local day of its `time`. The figures take two
// index reads of `orders` and the category cache; the card table is never
// read. Runs on the server thread; the days follow the clock of
// the action's Env.
#pragma once

#include "api/ActionContext.h"

namespace Quorvel {

inline constexpr int kOverviewDays = 30;

// The handler; registerStatusActions registers it as "getOverview".
void getOverview(ActionContext& context);

}  // namespace Quorvel
