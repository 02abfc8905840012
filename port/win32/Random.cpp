#include "port/Random.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "base/Exception.h"

namespace Quorvel::port {

// The system's preferred generator, the one the system's own keys come from.
void randomBytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ULONG part = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != 0) {
      throw Exception("The system gives no random bytes: BCryptGenRandom failed", static_cast<int>(status));
    }
    bytes += part;
    size -= part;
  }
}

}  // namespace Quorvel::port
