#include "base/GlobalLock.h"

namespace Quorvel {

std::recursive_mutex& globalLock() {
  // Built on first use, so it exists before any static initialiser needs it.
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

}  // namespace Quorvel
