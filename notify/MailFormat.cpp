#include "notify/MailFormat.h"

namespace Quorvel {

namespace {

constexpr size_t kMaxLineLength = 998;

bool isGbkLeadByte(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

// Appends one line (without its CR LF) to `out`, stuffing a leading "." and
// breaking it into pieces of at most 998 characters.
void appendLine(std::string& out, std::string_view line) {
  size_t pos = 0;
  do {
    size_t room = kMaxLineLength;
    if (pos < line.size() && line[pos] == '.') {
      out.push_back('.');
      --room;
    }
    size_t take = 0;
    while (pos + take < line.size()) {
      size_t step = isGbkLeadByte(line[pos + take]) && pos + take + 1 < line.size() ? 2 : 1;
      if (take + step > room) break;
      take += step;
    }
    out.append(line.substr(pos, take));
    pos += take;
    if (pos < line.size()) out.append("\r\n");
  } while (pos < line.size());
}

}  // namespace

MailAddress parseMailAddress(const std::string& text) {
  size_t open = text.find('<');
  size_t close = text.find('>');
  if (open == std::string::npos && close == std::string::npos) return {"", text};
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  MailAddress address;
  address.mailbox = text.substr(open + 1, close - open - 1);
  if (open > 0) {
    address.name = text.substr(0, open);
  } else if (close + 2 < text.size()) {
    address.name = text.substr(close + 2);
    if (!address.name.empty() && address.name.back() == ' ') address.name.pop_back();
  }
  return address;
}

std::string deliveryDomain(const std::string& text) {
  size_t at = text.find('@');
  if (at == std::string::npos) return {};
  std::string domain = text.substr(at + 1);
  size_t close = domain.find('>');
  if (close != std::string::npos) domain.erase(close);
  return domain;
}

std::string normaliseMailBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 8);
  size_t start = 0;
  for (;;) {
    size_t lf = body.find('\n', start);
    if (lf == std::string_view::npos) {
      appendLine(out, body.substr(start));
      return out;
    }
    size_t end = lf > start && body[lf - 1] == '\r' ? lf - 1 : lf;
    appendLine(out, body.substr(start, end - start));
    out.append("\r\n");
    start = lf + 1;
  }
}

std::string base64Encode(std::string_view bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[n >> 18];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += alphabet[n >> 18];
    out += alphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string buildMailText(const MailAddress& sender, const std::vector<MailAddress>& recipients,
                          const std::string& subject, const std::string& normalisedBody, std::time_t now) {
  std::string text = "From: " + sender.mailbox;
  if (!sender.name.empty()) text += " (" + sender.name + ") ";
  text += "\r\nReply-To: " + sender.mailbox + "\r\n";
  text += "To: ";
  for (size_t i = 0; i < recipients.size(); ++i) {
    if (i > 0) text += ",\r\n ";
    text += recipients[i].mailbox;
  }
  text += "\r\n";
  std::tm local{};
  char date[128];
  if (localtime_r(&now, &local) && std::strftime(date, sizeof date, "Date: %d %b %y %H:%M:%S %Z", &local) > 0) {
    text += date;
    text += "\r\n";
  }
  text += "Subject: " + subject + "\r\n\r\n";
  text += normalisedBody;
  text += "\r\n.\r\n";
  return text;
}

}  // namespace Quorvel
