// Builds DNS replies byte by byte for the MX lookup tests.
#pragma once

#include <cstdint>
#include <string>

namespace Quorvel::test {

inline std::string u16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// Header of a reply to query 0x0101 with the given counts and response code.
inline std::string dnsHeader(uint16_t questions, uint16_t answers, uint16_t authority = 0, uint16_t additional = 0,
                             uint8_t rcode = 0) {
  return u16(0x0101) + u16(static_cast<uint16_t>(0x8180 | rcode)) + u16(questions) + u16(answers) + u16(authority) +
         u16(additional);
}

// "mx.example.test" as inline labels closed by a zero byte.
inline std::string dnsName(const std::string& dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t dot = dotted.find('.', start);
    if (dot == std::string::npos) dot = dotted.size();
    out += static_cast<char>(dot - start);
    out += dotted.substr(start, dot - start);
    start = dot + 1;
  }
  return out + std::string(1, '\0');
}

inline std::string dnsPointer(uint16_t offset) { return u16(static_cast<uint16_t>(0xC000 | offset)); }

inline std::string dnsRecord(const std::string& owner, uint16_t type, const std::string& data) {
  return owner + u16(type) + u16(1) + u16(0) + u16(300) + u16(static_cast<uint16_t>(data.size())) + data;
}

inline std::string mxRecord(const std::string& owner, uint16_t preference, const std::string& exchange) {
  return dnsRecord(owner, 15, u16(preference) + exchange);
}

}  // namespace Quorvel::test
