// Every refusal the web actions give reaches the seller in Chinese: one
// request per refusal of "setConfig", "category", "item" and "order" through
// a real local server, each answered with "SUCCESS": 0 and a message of its
// own that holds Chinese text (not the fallback that wraps a library's
// English words). Also the 403 page and the fallback itself.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "api/CategoryActions.h"
#include "api/ItemActions.h"
#include "api/OrderActions.h"
#include "api/StatusActions.h"
#include "base/Charset.h"
#include "base/GbkText.h"
#include "server/HttpServer.h"
#include "store/Endpoints.h"
#include "store/Order.h"
#include "store/OrderStatus.h"
#include "store/SettingRules.h"
#include "tests/api/ApiClient.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel::testing {
namespace {

// Whether UTF-8 `text` holds a character of the CJK blocks (U+2E80 to
// U+9FFF) or a full-width form (U+FF00 to U+FFEF).
bool holdsCjk(const std::string& text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if ((c & 0xF0) != 0xE0 || k + 2 >= text.size()) continue;
    const unsigned code = (c & 0x0Fu) << 12 | (static_cast<unsigned char>(text[k + 1]) & 0x3Fu) << 6 |
                          (static_cast<unsigned char>(text[k + 2]) & 0x3Fu);
    if ((code >= 0x2E80 && code <= 0x9FFF) || (code >= 0xFF00 && code <= 0xFFEF)) return true;
  }
  return false;
}

using Form = std::vector<std::pair<std::string, std::string>>;

struct Refusal {
  std::string action;  // "do" and, for the actions that have them, "&action=..."
  Form form;
};

class SellerMessages : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    registerCategoryActions(Env());
    registerItemActions(Env());
    registerOrderActions(Env());
    registerStatusActions(Env(), std::make_shared<Deamon>(Env()));
  }

  // The answer to `refusal`, checked to be a refusal in Chinese.
  void expectChineseRefusal(const Refusal& refusal) {
    const Json::Value reply = callAction(server_.port(), refusal.action, formOf(refusal.form));
    const std::string shown = refusal.action + " " + formOf(refusal.form).substr(0, 80);
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << shown;
    const std::string message = reply["MSG"].asString();
    EXPECT_TRUE(holdsCjk(message)) << shown << ": " << message;
    EXPECT_NE(message.rfind(kFailurePrefixUtf8, 0), 0u) << shown << " has no message of its own: " << message;
  }

  TestServer server_;
};

TEST_F(SellerMessages, EveryRefusalOfTheActionsIsInChinese) {
  const std::string cg = std::to_string(addCategory("full"));
  const std::string missing = "9999";
  addCard(std::stoi(cg), "unsent", "pw");
  const std::shared_ptr<IDb> db = getDb();
  Order::instance()->addFound(db, "8001", "http://trade.test/d");
  const std::string delivering = std::to_string(db->lastInsertId());
  Order::instance()->setStatus(db, std::stoi(delivering), kOrderDelivering);
  const std::string longText(3000, 'x');

  const std::vector<Refusal> refusals = {
      {"category&action=add", {}},
      {"category&action=add", {{"name", " "}}},
      {"category&action=add", {{"name", longText}}},
      {"category&action=add", {{"name", "n"}, {"tpl", "[1]"}}},
      {"category&action=add", {{"name", "n"}, {"tpl", "{\"cardTpl\":[1]}"}}},
      {"category&action=add", {{"name", "n"}, {"ext", "1"}}},
      {"category&action=add", {{"name", "n"}, {"ext", "{\"limit_number\":\"two\"}"}}},
      {"category&action=update", {{"id", "x"}, {"name", "n"}}},
      {"category&action=update", {{"id", missing}, {"name", "n"}}},
      {"category&action=del", {{"id", "1 or 1=1"}}},
      {"category&action=del", {{"id", cg}}},  // holds an unsent card
      {"category&action=bind", {{"cg_id", missing}, {"item_id", "1"}}},
      {"category&action=bind", {{"cg_id", cg}, {"item_id", "abc"}}},
      {"category&action=bindLst", {{"cg_id", ""}}},
      {"category&action=preview", {{"cards", "{}"}}},
      {"category&action=preview", {{"goods_name", longText}}},
      {"item&action=lst", {{"cg_id", "x"}}},
      {"item&action=add", {{"cg_id", missing}, {"data1", "d"}}},
      {"item&action=add", {{"cg_id", cg}, {"data1", ""}}},
      {"item&action=add", {{"cg_id", cg}, {"data1", longText}}},
      {"item&action=add", {{"cg_id", cg}, {"data1", "d"}, {"data3", longText}}},
      {"item&action=update", {{"id", "x"}, {"cg_id", cg}, {"data1", "d"}}},
      {"item&action=update", {{"id", missing}, {"cg_id", cg}, {"data1", "d"}}},
      {"item&action=del", {{"id", ""}}},
      {"item&action=del_more", {{"id_str", "1;2"}}},
      {"item&action=import", {{"cg_id", cg}, {"sep", "space"}, {"lines", ""}}},
      {"item&action=import", {{"cg_id", cg}, {"sep", "semicolon"}, {"lines", "a b"}}},
      {"item&action=import", {{"cg_id", missing}, {"sep", "space"}, {"lines", "a b"}}},
      {"item&action=search", {{"q", ""}}},
      {"item&action=search", {{"q", longText}}},
      {"item&action=export", {{"cg_id", missing}}},
      {"order&action=lst", {{"group", "old"}}},
      {"order&action=lst", {{"from", "2026-02-30"}}},
      {"order&action=lst", {{"q", longText}}},
      {"order&action=export", {{"to", "x"}}},
      {"order&action=del", {{"id", "x"}}},
      {"order&action=del", {{"id", delivering}}},
      {"order&action=reset", {{"id", delivering}}},
      {"order&action=log", {{"id", missing}}},
      {"order&action=cards", {{"id", missing}}},
      {"setConfig", {{"", "1"}}},
      {"setConfig", {{"local_host", "http://127.0.0.1"}}},
  };
  for (const Refusal& refusal : refusals) expectChineseRefusal(refusal);
  // A list of more ids than may go at once.
  std::string ids = "1";
  for (std::size_t k = 1; k <= Item::kMaxRemovedIds; ++k) ids += ",1";
  try {
    Item::parseIdList(ids);
    ADD_FAILURE() << "too many ids";
  } catch (Exception e) {
    EXPECT_TRUE(holdsCjk(gbkToUtf8(e.message()))) << e.message();
  }
}

TEST_F(SellerMessages, EveryRefusedSettingIsNamedByItsLabelInTheSettingsView) {
  std::vector<std::pair<std::string, std::string>> refused;
  for (const SettingRule& rule : settingRules()) {
    refused.emplace_back(rule.key, "abc");
    refused.emplace_back(rule.key, std::to_string(rule.max + 1));
  }
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    refused.emplace_back(endpoint.key, endpoint.key == "local_host" ? "http://x" : "ftp://example.com");
  }
  refused.emplace_back("market_base", "http://example.com/path");
  for (const auto& [key, value] : refused) {
    const Json::Value reply = callAction(server_.port(), "setConfig", formOf({{key, value}}));
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << key << "=" << value;
    const std::string message = reply["MSG"].asString();
    const char* label = settingLabel(key);
    ASSERT_NE(label, nullptr) << key << " has no label";
    EXPECT_NE(message.find(std::string("“") + label + "”"), std::string::npos) << key << ": " << message;
    EXPECT_NE(message.find(key), std::string::npos) << message;
    EXPECT_NE(message.find("未保存任何设置"), std::string::npos) << message;
  }
  EXPECT_NE(callAction(server_.port(), "setConfig", formOf({{"check_order_timeout", "0"}}))["MSG"].asString().find(
                "1 到 86400 之间的整数（秒）"),
            std::string::npos);
}

TEST(SellerText, TheForbiddenPageReadsInChinese) {
  // The body's character references, decoded.
  std::string decoded;
  const std::string body = kForbiddenBody;
  std::regex reference("&#([0-9]+);");
  std::string rest = body;
  std::smatch match;
  while (std::regex_search(rest, match, reference)) {
    decoded += match.prefix().str();
    const unsigned code = static_cast<unsigned>(std::stoul(match[1].str()));
    decoded += static_cast<char>(0xE0 | (code >> 12));
    decoded += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    decoded += static_cast<char>(0x80 | (code & 0x3F));
    rest = match.suffix().str();
  }
  decoded += rest;
  EXPECT_NE(decoded.find("禁止访问"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("重新打开"), std::string::npos) << decoded;
  for (unsigned char c : body) EXPECT_LT(c, 0x80) << "plain ASCII whatever the charset";
}

TEST(SellerText, AFailureInEnglishIsShownAsAFailureInChinese) {
  EXPECT_EQ(sellerMessage("database is locked"), gbk("操作失败：database is locked"));
  EXPECT_EQ(sellerMessage(gbk("库存不足")), gbk("库存不足"));
  EXPECT_EQ(sellerMessage(gbk("卡号 abc")), gbk("卡号 abc"));
  EXPECT_FALSE(holdsChinese("plain \x81"));  // a lead byte without its second byte
}

}  // namespace
}  // namespace Quorvel::testing
