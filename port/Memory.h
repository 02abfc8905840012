// Gives memory the process freed back to the system. The allocator may keep
// freed blocks for reuse; after one large request the server asks for them to
// be returned so that its size comes back down. Any thread.
#pragma once

namespace Quorvel::port {

void releaseFreedMemory();

}  // namespace Quorvel::port
