// DeliveryProbe: the points between the steps of one order's delivery, where
// a test looks at (or ends) the process. The delivery calls `reached` at each
// point on the order worker thread, on the DeliveryProbe entry of the Env it
// was built with; the program's, the entry's default, does nothing. A test
// sets its own in the Env it builds the delivery with (the crash test's
// driver kills itself at a named point).
//
// Points, in the order a delivery passes them:
//   "reserved"   the reservation (cards marked, status 3) is committed
//   "consigning" just before the consign page is read
//   "consigned"  the marketplace confirmed the shipment; nothing written yet
//   "finished"   the finishing transaction (status 2, messages) is committed
//   "memo"       just before the seller memo is written
//   "released"   a failed consignment's cards are back in stock (committed)
#pragma once

#include <string>

namespace Quorvel {

class DeliveryProbe {
 public:
  virtual ~DeliveryProbe() = default;

  // `point` is one of the names above, `orderNumber` the marketplace order's.
  virtual void reached(const std::string& point, const std::string& orderNumber) {}
};

}  // namespace Quorvel
