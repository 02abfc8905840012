#include "store/SettingRules.h"

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/WebAddress.h"

#include <map>
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

const char* settingLabel(const std::string& key) {
  // The labels of the settings view (webui/js/settings.js).
  static const std::map<std::string, const char*> labels = {
      {"taobao_user", "淘宝帐号"},
      {"taobao_pwd", "淘宝密码"},
      {"taobao_autologin", "打开登录页时自动登录"},
      {"check_order_timeout", "查单间隔"},
      {"check_msg_timeout", "发送消息间隔"},
      {"comment_enable", "自动评价买家"},
      {"comment_timeout", "评价间隔"},
      {"comment_msg", "评价内容"},
      {"notice_service_stop", "淘宝登录失效、停止发货时提醒"},
      {"notice_paid_order", "新付款订单提醒"},
      {"notice_success_order", "发货成功提醒"},
      {"notice_failed_order", "发货失败提醒"},
      {"notice_store_enable", "库存不足提醒"},
      {"notice_store_num", "库存下限"},
      {"notice_type_email", "用邮件提醒"},
      {"notice_mailto", "提醒邮箱"},
      {"email_send_type", "发送方式"},
      {"email_sender", "发件人（名称 <地址>）"},
      {"email_dns_server", "DNS 服务器（直接投递时查 MX）"},
      {"smtp_host", "SMTP 服务器"},
      {"smtp_port", "SMTP 端口"},
      {"smtp_user", "SMTP 用户名"},
      {"smtp_pwd", "SMTP 密码"},
      {"wangwang_initiative_enable", "等买家打开聊天窗口后发送"},
      {"wangwang_retry_timeout", "等待中的消息过期"},
      {"black_list", "不发货的买家（每行一个）"},
      {"maker_base", "服务地址"},
      {"local_host", "本地主机名"},
      {"market_base", "淘宝地址（替换下面全部）"},
      {"market_login_host", "淘宝登录"},
      {"market_seller_host", "卖家中心"},
      {"market_trade_host", "交易"},
      {"market_trade_archive_host", "交易（历史订单）"},
      {"market_item_host", "宝贝页"},
      {"market_logistics_host", "发货页"},
      {"market_rate_host", "评价"},
      {"market_webim_host", "网页旺旺"},
      {"backup_keep", "保留的备份个数"},
      {"backup_interval_hours", "自动备份间隔"},
  };
  auto found = labels.find(key);
  return found == labels.end() ? nullptr : found->second;
}

namespace {

// The setting as the seller knows it: "“查单间隔”（check_order_timeout）", or
// the key alone for a setting the view does not show (GBK).
std::string named(const std::string& key) {
  const char* label = settingLabel(key);
  return label ? gbk("“") + gbk(label) + gbk("”（") + key + gbk("）") : gbk("设置项 ") + key;
}

// What a rule's number counts, in words.
std::string unitWords(const SettingRule& rule) {
  static const std::map<std::string, const char*> words = {
      {"seconds", "秒"}, {"minutes", "分钟"}, {"cards", "张"}, {"days", "天"}, {"TCP port", "TCP 端口"},
      {"copies", "个"},  {"hours", "小时"},
  };
  if (rule.key == "email_send_type") return gbk("0 不发送，1 通过服务网站，2 直接投递，3 SMTP 中继");
  auto found = words.find(rule.unit);
  return found == words.end() ? rule.unit : gbk(found->second);
}

}  // namespace

void validateSetting(const std::string& key, const std::string& value) {
  if (key.empty()) throw Exception(gbk("有一项设置没有名称，无法保存；未保存任何设置。"));
  if (isEndpointKey(key)) {
    // The browser is started on the maker's address and every card goes to
    // these hosts: only a plain address may be stored.
    if (value.empty() || isEndpointValue(key, value)) return;
    if (key == "local_host") {
      throw Exception(named(key) + gbk("必须是主机名或 IP 地址（例如 127.0.0.1），不能带 http://、端口或路径；"
                                       "留空则用默认值。未保存任何设置。"));
    }
    throw Exception(named(key) + gbk("必须是 http:// 或 https:// 加主机名或 IP 地址，可带端口"
                                     "（例如 https://example.com:8080），不能有路径或其他内容；留空则用默认值。"
                                     "未保存任何设置。"));
  }
  const SettingRule* rule = settingRule(key);
  if (!rule || value.empty()) return;
  if (isDecimal(value)) {
    const long long number = std::stoll(value);
    if (number >= rule->min && number <= rule->max) return;
  }
  throw Exception(named(key) + gbk("必须是 ") + std::to_string(rule->min) + gbk(" 到 ") + std::to_string(rule->max) +
                  gbk(" 之间的整数（") + unitWords(*rule) + gbk("）；留空则用默认值。未保存任何设置。"));
}

}  // namespace Quorvel
