// SettingRules: which values a setting may take, checked before a settings
// change from the web UI is stored, so that the daemon and the mailer never
// read an interval of "abc" or a port of 70000. The rules are one table, so a
// page can show the ranges it will be held to.
//
// Only the settings the program reads as numbers have a rule. Every one of
// them may also be empty: the program then uses its default (10 seconds for
// the check intervals, 0 for the others). Flags are not checked: a flag is on
// exactly when its value is "1", and any other value, whatever the page sends
// for "off", stays a valid "off". Texts are used as stored.
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
};

// The numeric settings with their ranges.
const std::vector<SettingRule>& settingRules();

// The rule of `key`, or nullptr when the setting has none.
const SettingRule* settingRule(const std::string& key);

// Raises Exception when `key` is empty, or when `key` has a rule and `value`
// is neither empty nor a decimal number (digits only) within the rule's range.
// The message names the key and the accepted range.
void validateSetting(const std::string& key, const std::string& value);

}  // namespace Quorvel
