// The action "order", with which the web UI pages through the orders the
// program has recorded (all, or those of one processing status), deletes an
// order with its goods lines, and sends an order back for another delivery:
// sub-actions "lst", "del" and "reset".
//
// Register before the server thread starts; the action then runs on the
// server thread, on its own connection, while the order worker changes the
// same rows on its own.
#pragma once

namespace Quorvel {

void registerOrderActions();

}  // namespace Quorvel
