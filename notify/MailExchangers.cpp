#include "notify/MailExchangers.h"

namespace Quorvel {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr uint16_t kTypeMx = 15;
constexpr size_t kMaxReply = 512;
// A name is at most 255 bytes; a pointer chain longer than this many hops
// can only be a loop.
constexpr size_t kMaxNameLength = 255;
constexpr int kMaxPointerHops = 64;

void putUint16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value & 0xFF));
}

uint8_t byteAt(std::string_view data, size_t pos) { return static_cast<uint8_t>(data[pos]); }

uint16_t uint16At(std::string_view data, size_t pos) {
  return static_cast<uint16_t>(byteAt(data, pos) << 8 | byteAt(data, pos + 1));
}

// Reads the name starting at `pos`, following compression pointers. Returns
// the offset just after the name as it stands at `pos` (after its first
// pointer, if any), and the dotted text in `text` when given. Empty when the
// name runs past the data, uses a reserved label type, grows too long or its
// pointers never end.
std::optional<size_t> readName(std::string_view data, size_t pos, std::string* text) {
  std::optional<size_t> end;
  size_t length = 0;
  int hops = 0;
  for (;;) {
    if (pos >= data.size()) return std::nullopt;
    uint8_t label = byteAt(data, pos);
    if ((label & 0xC0) == 0xC0) {
      if (pos + 1 >= data.size() || ++hops > kMaxPointerHops) return std::nullopt;
      if (!end) end = pos + 2;
      pos = static_cast<size_t>(uint16At(data, pos) & 0x3FFF);
      continue;
    }
    if ((label & 0xC0) != 0) return std::nullopt;
    if (label == 0) return end ? *end : pos + 1;
    if (pos + 1 + label > data.size()) return std::nullopt;
    length += label + 1u;
    if (length > kMaxNameLength) return std::nullopt;
    if (text) {
      if (!text->empty()) text->push_back('.');
      text->append(data.substr(pos + 1, label));
    }
    pos += 1 + label;
  }
}

}  // namespace

std::optional<std::string> buildMxQuery(const std::string& domain) {
  if (domain.empty()) return std::nullopt;
  std::string query;
  putUint16(query, 0x0101);  // identifier
  putUint16(query, 0x0100);  // flags: recursion desired
  putUint16(query, 1);       // one question
  putUint16(query, 0);
  putUint16(query, 0);
  putUint16(query, 0);
  // Each label as its length and bytes; a domain written with its final dot
  // already ends with the empty label that closes the name.
  size_t start = 0;
  for (;;) {
    size_t dot = domain.find('.', start);
    std::string_view label = std::string_view(domain).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    bool last = dot == std::string::npos || dot + 1 == domain.size();
    if (label.empty() || label.size() > 63) return std::nullopt;
    query.push_back(static_cast<char>(label.size()));
    query.append(label);
    if (last) break;
    start = dot + 1;
  }
  query.push_back('\0');
  putUint16(query, kTypeMx);
  putUint16(query, 1);  // class IN
  return query;
}

MxReply readMxReply(std::string_view reply) {
  MxReply result;
  if (reply.size() <= kHeaderSize || (byteAt(reply, 3) & 0x0F) != 0) return result;
  result.answered = true;

  size_t pos = kHeaderSize;
  if (uint16At(reply, 4) != 0) {
    auto afterName = readName(reply, pos, nullptr);
    if (!afterName || *afterName + 4 > reply.size()) return result;
    pos = *afterName + 4;
  }
  size_t records = size_t{uint16At(reply, 6)} + uint16At(reply, 8) + uint16At(reply, 10);
  for (size_t i = 0; i < records; ++i) {
    auto afterOwner = readName(reply, pos, nullptr);
    if (!afterOwner || *afterOwner + 10 > reply.size()) break;
    pos = *afterOwner;
    uint16_t type = uint16At(reply, pos);
    size_t dataLength = uint16At(reply, pos + 8);
    size_t dataStart = pos + 10;
    if (dataStart + dataLength > reply.size()) break;
    if (type == kTypeMx && dataLength >= 3) {
      // Preference (2 bytes, not used for ordering), then the exchange name.
      std::string name;
      if (!readName(reply, dataStart + 2, &name)) break;
      if (!name.empty()) result.exchangers.push_back(std::move(name));
    }
    pos = dataStart + dataLength;
  }
  return result;
}

bool lookupMailExchangers(port::Network& network, const MxLookup& lookup, std::vector<port::Endpoint>& exchangers) {
  exchangers.clear();
  auto server = network.resolve(lookup.dnsServer);
  if (!server) {
    // No DNS server to ask: the domain's own host is the exchanger.
    auto host = network.resolve(lookup.domain);
    if (!host) return false;
    exchangers.push_back({*host, lookup.smtpPort});
    return true;
  }
  auto query = buildMxQuery(lookup.domain);
  if (!query) return false;
  std::string reply;
  if (!network.exchangeDatagram({*server, lookup.dnsPort}, *query, reply, kMaxReply, lookup.timeout)) return false;
  MxReply answer = readMxReply(reply);
  if (!answer.answered) return false;
  for (const auto& name : answer.exchangers) {
    if (auto address = network.resolve(name)) exchangers.push_back({*address, lookup.smtpPort});
  }
  return true;
}

}  // namespace Quorvel
