// The fixed numbers of the protocols the program speaks: the web UI's
// version, the local server's port range, the mail and DNS ports. Numbers a
// store keeps live with that store. Constants only; any thread.
#pragma once

#include <cstdint>

namespace Quorvel {

// The web UI's version, sent to the maker's service in the page address.
inline constexpr int kUiVersion = 1105;

// The local server's ports are drawn from this range.
inline constexpr std::uint16_t kLocalPortMin = 10000;
inline constexpr std::uint16_t kLocalPortMax = 60000;

// Mail exchangers listen here; DNS servers answer here.
inline constexpr std::uint16_t kSmtpPort = 25;
inline constexpr std::uint16_t kDnsPort = 53;

}  // namespace Quorvel
