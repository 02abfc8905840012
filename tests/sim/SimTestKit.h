// Test kit for the simulator's tests: a browser-like HTTP client that keeps
// the site's cookies, and the marketplace patterns, matched the way the
// program matches them (PCRE2, byte-wise, no UTF mode, dot matches line
// breaks), written as UTF-8 and turned into GBK with every non-ASCII byte
// escaped as \xHH.
#pragma once

#define PCRE2_CODE_UNIT_WIDTH 8
#include <arpa/inet.h>
#include <json/json.h>
#include <netinet/in.h>
#include <pcre2.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Charset.h"
#include "sim/SimForm.h"

namespace Quorvel {

using Groups = std::vector<std::string>;

// UTF-8 pattern text to a GBK pattern with escaped high bytes.
inline std::string gbkPattern(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : gbk(utf8)) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Escapes a literal (an address) for use inside a pattern.
inline std::string quoteMeta(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}/").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// Every match of a GBK pattern: whole match and groups (unset groups empty).
inline std::vector<Groups> matchAll(const std::string& pattern, const std::string& subject) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_DOTALL, &error, &offset,
                    nullptr),
      &pcre2_code_free);
  if (!code) throw std::runtime_error("bad pattern: " + pattern);
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
      pcre2_match_data_create_from_pattern(code.get(), nullptr), &pcre2_match_data_free);
  std::vector<Groups> all;
  PCRE2_SIZE start = 0;
  while (start <= subject.size()) {
    int rc = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start, 0,
                         data.get(), nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) throw std::runtime_error("match error " + std::to_string(rc));
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
    uint32_t count = pcre2_get_ovector_count(data.get());
    Groups groups;
    for (uint32_t g = 0; g < count; ++g) {
      if (ov[2 * g] == PCRE2_UNSET) {
        groups.emplace_back();
      } else {
        groups.push_back(subject.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g]));
      }
    }
    all.push_back(groups);
    start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
  }
  return all;
}

inline bool matchFirst(const std::string& pattern, const std::string& subject, Groups* groups) {
  std::vector<Groups> all = matchAll(pattern, subject);
  if (all.empty()) return false;
  if (groups) *groups = all.front();
  return true;
}

inline bool contains(const std::string& subject, const std::string& utf8Needle) {
  return subject.find(gbk(utf8Needle)) != std::string::npos;
}

// The two sold-items addresses the client reads: paid orders, and orders not
// rated yet.
inline const std::string kPaidListTarget =
    "/trade/itemlist/list_sold_items.htm?action=itemlist%2FQueryAction&auctionStatus=PAID&bizOrderHourBegin=00"
    "&bizOrderHourEnd=00&closeorder_flag=1&commentStatus=ALL&event_submit_do_query=1&fromTag=true&isArchive=false"
    "&isArchiveDefault=0&isOwnOfficialShop=false&logisticsService=ALL&order=desc&order_type=orderList&pageNum=1"
    "&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";
inline const std::string kUnratedListTarget =
    "/trade/itemlist/list_sold_items.htm?action=itemlist%2FQueryAction&auctionStatus=ALL&auctionTitle="
    "&bizOrderHourBegin=00&bizOrderHourEnd=00&bizOrderMinBegin=00&bizOrderMinEnd=00&closeorder_flag=1"
    "&commentStatus=I_HAS_NOT_COMMENT&event_submit_do_query=1&fromTag=true&isArchive=false&isArchiveDefault=0"
    "&isOwnOfficialShop=false&isQueryMore=false&logisticsService=ALL&order=desc&order_type=orderList&pageNum=1"
    "&queryTag=0&shopName=All&tradeDissension=ALL&user_type=1";

// The form patterns of the marketplace client, as it stores them.
inline const std::string kInputPattern = "<input([^>]+)>";
inline const std::string kNamePattern = "name=[\"']([^\"']+)[\"']";
inline const std::string kValuePattern = "value=['\"]([^\"']*)['\"]";

// Every input of a form body that has a name and a value, later ones winning.
inline std::map<std::string, std::string> formInputs(const std::string& formBody) {
  std::map<std::string, std::string> fields;
  for (const Groups& input : matchAll(kInputPattern, formBody)) {
    Groups name, value;
    if (matchFirst(kNamePattern, input[1], &name) && matchFirst(kValuePattern, input[1], &value)) {
      fields[name[1]] = value[1];
    }
  }
  return fields;
}

inline std::string encodeFields(const std::map<std::string, std::string>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) body += (body.empty() ? "" : "&") + name + "=" + simPercentEncode(value);
  return body;
}

struct Page {
  int status = 0;
  std::string body;
  std::string location;
  std::string contentType;
  std::vector<std::string> setCookies;
};

// A page's body read as JSON (the control interface's answers).
inline Json::Value json(const Page& page) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(page.body.data(), page.body.data() + page.body.size(), &value, nullptr)) {
    throw std::runtime_error("not JSON: " + page.body);
  }
  return value;
}

// Requests one address at a time over a plain socket (the answer exactly as
// sent, no header rewriting), without following redirects, and sends the
// cookies earlier answers set.
class Browser {
 public:
  explicit Browser(int port) : port_(port) {}

  Page get(const std::string& target) { return exchange("GET", target, "", ""); }

  Page post(const std::string& target, const std::string& body,
            const std::string& type = "application/x-www-form-urlencoded") {
    return exchange("POST", target, body, type);
  }

 private:
  Page exchange(const std::string& method, const std::string& target, const std::string& body,
                const std::string& type) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nConnection: close\r\n";
    std::string cookie;
    for (const auto& [name, value] : cookies_) cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
    if (!cookie.empty()) request += "Cookie: " + cookie + "\r\n";
    if (method == "POST") {
      request += "Content-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n" + body;

    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[8192];
      ssize_t got;
      while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
    }
    ::close(fd);

    size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) throw std::runtime_error("no answer from the simulator");
    Page page;
    page.body = answer.substr(end + 4);
    std::string head = answer.substr(0, end);
    size_t lineEnd = head.find("\r\n");
    std::string status = head.substr(0, lineEnd);
    page.status = std::stoi(status.substr(status.find(' ') + 1, 3));
    while (lineEnd != std::string::npos) {
      size_t next = head.find("\r\n", lineEnd + 2);
      std::string line = head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
      lineEnd = next;
      size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon), value = line.substr(colon + 2);
      if (name == "Location") page.location = value;
      if (name == "Content-Type") page.contentType = value;
      if (name == "Set-Cookie") {
        page.setCookies.push_back(value);
        std::string pair = value.substr(0, value.find(';'));
        size_t eq = pair.find('=');
        cookies_[pair.substr(0, eq)] = pair.substr(eq + 1);
      }
    }
    return page;
  }

  int port_;
  std::map<std::string, std::string> cookies_;
};

}  // namespace Quorvel

#include <gtest/gtest.h>

#include "sim/MarketSim.h"

namespace Quorvel {

// A simulator with the demo shop on a free port, and a browser for it.
class SimFixture : public ::testing::Test {
 protected:
  explicit SimFixture(SimOptions options = {}) : sim_(options) {}

  void SetUp() override {
    sim_.start(0);
    browser_ = std::make_unique<Browser>(sim_.port());
  }
  void TearDown() override { sim_.stop(); }

  std::string base() const { return sim_.baseUrl(); }

  void login() {
    Page page = browser_->post("/member/login.jhtml", "TPL_username=" + sim_.shop().account() +
                                                          "&TPL_password=" + sim_.shop().password() + "&longLogin=1");
    ASSERT_FALSE(contains(page.body, "标准登录框"));
  }

  // The first paid and the first completed order of the demo shop.
  SimOrder demoOrder(int state) {
    for (const SimOrder& order : sim_.shop().orders()) {
      if (order.state == state) return order;
    }
    throw std::runtime_error("no demo order in that state");
  }

  MarketSim sim_;
  std::unique_ptr<Browser> browser_;
};

}  // namespace Quorvel
