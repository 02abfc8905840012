// The action "item", with which the web UI pages through the cards of a
// category and adds, edits and deletes cards: sub-actions "lst", "add",
// "del", "del_more" and "update". Every change keeps the category's stock
// counters current (the Item store does that).
//
// Register before the server thread starts; the action then runs on the
// server thread.
#pragma once

#include <json/value.h>

#include "store/Item.h"

namespace Quorvel {

void registerItemActions();

// {"id", "cg_id", "data1", "data2", "data3", "send_order_id"}
Json::Value cardJson(const CardRecord& card);

}  // namespace Quorvel
