// Raised by the marketplace HTTP client when it cannot set up a transfer at
// all (no libcurl handle: "Can't Init curl", code 1). A failed transfer is not
// an exception: it gives an empty page. Raised and caught by value, any thread.
#pragma once

#include "base/Exception.h"

namespace Quorvel {

class CurlException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace Quorvel
