#include "base/GlobalLock.h"

namespace Quorvel {

RecursiveMutex& globalLock() {
  // Built on first use, so it exists before any static initialiser needs it.
  static RecursiveMutex* lock = new RecursiveMutex;
  return *lock;
}

}  // namespace Quorvel
