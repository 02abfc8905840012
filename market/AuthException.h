// Raised when a marketplace page shows the login box instead of its content:
// the session in the cookie file is gone. The scrapers raise it; the order
// worker catches it and stops until the seller logs in again. Raised and
// caught by value, any thread.
#pragma once

#include "base/Exception.h"

namespace Quorvel {

class AuthException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace Quorvel
