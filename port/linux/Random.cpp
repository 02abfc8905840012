#include "port/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "base/Exception.h"

namespace Quorvel::port {

// getrandom blocks only until the kernel's pool is first seeded, early at boot.
void randomBytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  std::size_t filled = 0;
  while (filled < size) {
    ssize_t got = getrandom(bytes + filled, size - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Exception(std::string("The system gives no random bytes: ") + std::strerror(errno), errno);
    }
    filled += static_cast<std::size_t>(got);
  }
}

}  // namespace Quorvel::port
