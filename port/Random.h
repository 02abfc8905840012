// Random bytes from the operating system, fit for secrets (the launch key).
// Any thread.
#pragma once

#include <cstddef>

namespace Quorvel::port {

// Fills `size` bytes at `out`. Raises Exception when the system has none to
// give, rather than returning weaker ones.
void randomBytes(void* out, std::size_t size);

}  // namespace Quorvel::port
