// The action "item", with which the web UI pages through the cards of a
// category and adds, edits and deletes cards: sub-actions "lst", "add",
// "del", "del_more" and "update"; "import" (many cards from pasted lines,
// store/CardImport.h), "search" (by card number) and "export" (a category's
// unsent cards as CSV). Every change keeps the category's stock counters
// current (the Item store does that).
//
// Register before the server thread starts; the action then runs on the
// server thread.
#pragma once

#include <json/value.h>

#include <string>

#include "base/Env.h"
#include "store/Item.h"

namespace Quorvel {

void registerItemActions(const Env& env);

// {"id", "cg_id", "data1", "data2", "data3", "send_order_id"}
Json::Value cardJson(const CardRecord& card);

// One CSV field (RFC 4180): as it is, or in double quotes with its quotes
// doubled when it holds a comma, a quote, CR or LF.
std::string csvField(const std::string& text);

}  // namespace Quorvel
