// Times as the web UI reads them: seconds since 1970, sent as their low 32
// bits (the width the page and the stored tables use), so that a time past
// 2038 keeps the same bits it has in the tables. Any thread.
#pragma once

#include <json/value.h>

#include <cstdint>

namespace Quorvel {

inline Json::Int pageTime(std::int64_t seconds) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
}

}  // namespace Quorvel
