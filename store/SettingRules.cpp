#include "store/SettingRules.h"

#include "base/Exception.h"
#include "base/WebAddress.h"

#include <string_view>

namespace Quorvel {

namespace {

// A number longer than this is out of every range; it is refused before it
// could overflow.
constexpr size_t kMaxDigits = 12;

bool isDecimal(const std::string& text) {
  if (text.empty() || text.size() > kMaxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

const std::vector<SettingRule>& settingRules() {
  // Intervals of the daemon start at one second (0 would tick without a
  // pause) and end at a day; the rating interval may be 0 (rate at every
  // tick); a waiting chat message may expire at once (0 days) or after a
  // year; e-mail route 0 is "none", like an empty value.
  static const std::vector<SettingRule> rules = {
      {"check_order_timeout", 1, 86400, "seconds", "10"},
      {"check_msg_timeout", 1, 86400, "seconds", "10"},
      {"comment_timeout", 0, 525600, "minutes", "0"},
      {"notice_store_num", 0, 1000000, "cards", "0"},
      {"email_send_type", 0, 3, "0 none, 1 maker's service, 2 direct, 3 SMTP relay", "0"},
      {"smtp_port", 1, 65535, "TCP port", "25"},
      {"wangwang_retry_timeout", 0, 365, "days", "0"},
      // Copies of the database in backup/: how many stay, and how often one
      // is made while the program runs (0: only at start and on request).
      {"backup_keep", 1, 1000, "copies", "7"},
      {"backup_interval_hours", 0, 8760, "hours", "24"},
  };
  return rules;
}

const SettingRule* settingRule(const std::string& key) {
  for (const SettingRule& rule : settingRules()) {
    if (rule.key == key) return &rule;
  }
  return nullptr;
}

bool isEndpointKey(const std::string& key) {
  constexpr std::string_view prefix = "market_", suffix = "_host";
  if (key == "maker_base" || key == "market_base" || key == "local_host") return true;
  return key.size() > prefix.size() + suffix.size() && key.starts_with(prefix) && key.ends_with(suffix);
}

bool isEndpointValue(const std::string& key, const std::string& value) {
  if (!isEndpointKey(key)) return false;
  return key == "local_host" ? isHost(value) : isBaseAddress(value);
}

void validateSetting(const std::string& key, const std::string& value) {
  if (key.empty()) throw Exception("A setting without a name cannot be stored; nothing was saved.");
  if (isEndpointKey(key)) {
    // The browser is started on the maker's address and every card goes to
    // these hosts: only a plain address may be stored.
    if (value.empty() || isEndpointValue(key, value)) return;
    if (key == "local_host") {
      throw Exception("The setting local_host must be a host name or address (like 127.0.0.1), without scheme, "
                      "port or path, or empty for the default; nothing was saved.");
    }
    throw Exception("The setting " + key +
                    " must be http:// or https:// followed by a host name or address and an optional port "
                    "(like https://example.com:8080), with nothing else, or empty for the default; nothing was saved.");
  }
  const SettingRule* rule = settingRule(key);
  if (!rule || value.empty()) return;
  if (isDecimal(value)) {
    const long long number = std::stoll(value);
    if (number >= rule->min && number <= rule->max) return;
  }
  throw Exception("The setting " + key + " must be a whole number from " + std::to_string(rule->min) + " to " +
                  std::to_string(rule->max) + " (" + rule->unit + "), or empty for the default; nothing was saved.");
}

}  // namespace Quorvel
