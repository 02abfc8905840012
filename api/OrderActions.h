// The action "order", with which the web UI pages through the orders the
// program has recorded (all, or those of one processing status), deletes an
// order with its goods lines, sends an order back for another delivery, and
// shows what happened to an order step by step: sub-actions "lst", "del",
// "reset" and "log". "lst" also searches: `q` (an order number, buyer,
// e-mail or delivered card text, by its first characters) and the local
// days `from` to `to`, with the groups and the paging; "export" gives the
// same orders as CSV, and "cards" the cards an order received. An order being
// delivered (status 3) can be neither deleted nor reset until its delivery
// ends.
//
// Register before the server thread starts; the action then runs on the
// server thread, on its own connection, while the order worker changes the
// same rows on its own.
#pragma once

#include "base/Env.h"

namespace Quorvel {

void registerOrderActions(const Env& env);

}  // namespace Quorvel
