#include "port/Memory.h"

#include <malloc.h>

namespace Quorvel::port {

void releaseFreedMemory() { malloc_trim(0); }

}  // namespace Quorvel::port
