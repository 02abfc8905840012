// Finding a domain's mail exchangers with a DNS MX query that the mailer
// builds and reads itself, sent over UDP to the configured DNS server.
//
// Pure functions apart from lookupMailExchangers, which talks to the network
// through the platform layer. The mailer calls them on the message worker;
// any thread may.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "port/Socket.h"

namespace Quorvel {

// The MX query datagram for `domain` (identifier 0x0101, recursion desired,
// one question of type MX, class IN). Empty when the domain cannot be asked
// for: no text, an empty label inside it, or a label over 63 bytes.
std::optional<std::string> buildMxQuery(const std::string& domain);

struct MxReply {
  // False when the reply is 12 bytes or shorter or its response code is not 0.
  bool answered = false;
  // The non-empty exchange names of the MX records, in the order the records
  // appear (the preference does not order them).
  std::vector<std::string> exchangers;
};

// Walks the header, one question and every answer, authority and additional
// record of `reply`. Never reads past its bytes: a name or record that would
// run past them, a reserved label type, a name longer than DNS allows or a
// chain of compression pointers that does not end ends the walk with the
// exchangers found so far.
MxReply readMxReply(std::string_view reply);

struct MxLookup {
  std::string dnsServer;  // name or dotted address of the DNS server to ask
  uint16_t dnsPort = 53;
  std::string domain;     // the delivery domain
  uint16_t smtpPort = 25; // given to every exchanger found
  std::chrono::milliseconds timeout{5000};  // for the one reply datagram
};

// Fills `exchangers` with the address of every exchanger of the domain that
// resolves, in record order, and answers true (even when none was found).
// When the DNS server itself does not resolve, the domain's own address is
// the one exchanger. False when the domain has no usable address that way,
// or the query cannot be built, sent or answered, or the reply is refused.
bool lookupMailExchangers(port::Network& network, const MxLookup& lookup, std::vector<port::Endpoint>& exchangers);

}  // namespace Quorvel
