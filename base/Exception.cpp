#include "base/Exception.h"

#include <cerrno>
#include <utility>

namespace Quorvel {

Exception::Exception(std::string message) : message_(std::move(message)), code_(errno) {}

Exception::Exception(std::string message, int code) : message_(std::move(message)), code_(code) {}

}  // namespace Quorvel
