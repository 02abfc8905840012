#include "port/Memory.h"

#include <malloc.h>
#include <windows.h>

namespace Quorvel::port {

void releaseFreedMemory() {
  _heapmin();
  HeapCompact(GetProcessHeap(), 0);
}

}  // namespace Quorvel::port
