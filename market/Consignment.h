// Consignment: the marketplace step of a delivery that marks the order
// shipped. consignOrder reads the consign page (following its redirect to
// wherever the site serves it now), fills in the consign form with an empty
// tracking number and the delivery text as the note, posts it back to the
// address that served it, and checks the confirmation. It returns what came
// of it; what a refusal means for the order is the delivery's to say
// (delivery/MarketSteps.h).
//
// Called by the order worker with no database transaction open: a request
// may take as long as the client's transfer time-out. Any thread may call
// them; they touch no table.
#pragma once

#include <cstddef>
#include <string>

#include "market/HttpClient.h"

namespace Quorvel {

// Why the marketplace did not confirm a consignment.
enum class ConsignRefusal {
  kNone,               // confirmed
  kNotConsignable,     // the page does not offer the order for shipping, or could not be read
  kNoForm,             // the page holds no consign form
  kFormWithoutInputs,  // the consign form has no input the program can read
  kNotConfirmed,       // posted, and the answer (if one came) holds no confirmation
};

// The consign form of one page: its inputs, or why there are none to post.
struct ConsignForm {
  ConsignRefusal refusal = ConsignRefusal::kNone;
  FormFields fields;
};

// What a consignment came to, for the order log and for the caller that has
// to tell a refusal from an answer that never came.
struct ConsignOutcome {
  ConsignRefusal refusal = ConsignRefusal::kNone;
  bool posted = false;       // the form was posted
  bool answered = false;     // the POST got a 2xx answer
  std::string reason;        // why no usable answer came (client's reason or "HTTP nnn")
  std::string confirmation;  // the confirmation's text, when the shipment was confirmed
  bool confirmed() const { return refusal == ConsignRefusal::kNone; }
};

// The note longer texts are cut to, and the longest text sent whole.
inline constexpr size_t kConsignNoteWhole = 128;
inline constexpr size_t kConsignNoteCut = 100;

// Consigns the marketplace order `orderId` with `text` as its note (see
// consignNote). Raises the Exception family only where the client does (an
// address the settings refuse, and the like).
// The pages are fetched with `env` (market/HttpClient.h).
ConsignOutcome consignOrder(const Env& env, const std::string& orderId, const std::string& text);

// The inputs of the consign form on `page` (the consign page's body), as
// consignOrder posts them before it sets its own fields.
ConsignForm readConsignForm(const std::string& page);

// The note sent with the consignment: the whole text when it is at most 128
// bytes, otherwise its first 100 bytes, cut between two GBK characters (so
// 99 bytes when byte 100 is the first half of a character).
std::string consignNote(const std::string& text);

}  // namespace Quorvel
