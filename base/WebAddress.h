// The shapes of address the program accepts in its settings and hands to a
// browser: a base address ("http://host" or "https://host:port"), a host
// (a name, an IPv4 address or a bracketed IPv6 address), and a page address
// on a base address. Anything else, a user part, spaces, a path where none
// belongs, a value that starts like a command-line option, is refused.
//
// Pure functions; any thread.
#pragma once

#include <string_view>

namespace Quorvel {

// Four decimal numbers 0-255 separated by dots, without leading zeros.
bool isIpv4Address(std::string_view text);

// An IPv6 address without brackets and without a zone ("::1", "fe80::1",
// "::ffff:127.0.0.1").
bool isIpv6Address(std::string_view text);

// A host: an IPv4 address, "[" IPv6 address "]", or a name of dot-separated
// labels (letters, digits and inner hyphens, 63 characters each, 253 in all).
// A name whose last label starts with a digit must be an IPv4 address, as a
// browser would read it as one.
bool isHost(std::string_view text);

// "http://" or "https://" (lower case), a host (isHost), and optionally ":"
// and a port from 1 to 65535. Nothing else: no user part, no path, no slash.
bool isBaseAddress(std::string_view text);

// A base address followed by nothing, or by "/" and then only letters,
// digits and the characters - . _ ~ / ? # & = % : + , ; @ (each "%" with two
// hexadecimal digits). Such an address never reads as a command-line option.
bool isPageAddress(std::string_view text);

}  // namespace Quorvel
