// SettingRules: which values a setting may take, checked before a settings
// change from the web UI is stored, so that the daemon and the mailer never
// read an interval of "abc" or a port of 70000. The rules are one table, so a
// page can show the ranges it will be held to.
//
// The settings the program reads as numbers have a range. The endpoint
// settings are addresses: `maker_base`, `market_base` and every
// `market_*_host` a base address ("http://host" or "https://host:port", see
// base/WebAddress.h), `local_host` a bare host. Every one of them may also be
// empty: the program then uses its default (10 seconds for the check
// intervals, 0 for the other numbers, the built-in address for endpoints).
// Flags are not checked: a flag is on exactly when its value is "1", and any
// other value, whatever the page sends for "off", stays a valid "off". Other
// texts are used as stored.
//
// Pure functions over a constant table; any thread may call them.
#pragma once

#include <string>
#include <vector>

namespace Quorvel {

struct SettingRule {
  std::string key;
  long long min;     // smallest accepted value
  long long max;     // largest accepted value
  std::string unit;  // what the number counts, for the message and the page
  // What the program uses while the setting is empty; empty when it has
  // nothing to use (an SMTP relay without a port is not reached).
  std::string defaultValue;
};

// The numeric settings with their ranges.
const std::vector<SettingRule>& settingRules();

// The rule of `key`, or nullptr when the setting has none.
const SettingRule* settingRule(const std::string& key);

// Whether `key` holds an address (a base address, or for `local_host` a host).
bool isEndpointKey(const std::string& key);

// Whether `value` is a non-empty address of the shape `key` takes.
bool isEndpointValue(const std::string& key, const std::string& value);

// The label (UTF-8) under which the settings view shows `key`; nullptr for a
// setting the view does not show.
const char* settingLabel(const std::string& key);

// Raises Exception when `key` is empty; when `key` has a rule and `value` is
// neither empty nor a decimal number (digits only) within the rule's range;
// or when `key` is an endpoint and `value` is neither empty nor an address of
// its shape. The message (GBK) names the setting by its label and key, and
// says what it accepts.
void validateSetting(const std::string& key, const std::string& value);

}  // namespace Quorvel
