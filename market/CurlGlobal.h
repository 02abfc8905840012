// libcurl's process-wide set-up, done once before the first handle is made
// (curl_global_init is not safe to race). Any thread may call it.
#pragma once

namespace Quorvel {

void initCurlOnce();

}  // namespace Quorvel
