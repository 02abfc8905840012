#include "api/StatusActions.h"

#include <json/value.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "api/ActionDispatch.h"
#include "api/LoginActions.h"
#include "api/OverviewActions.h"
#include "api/PageTime.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/Registry.h"
#include "port/Autostart.h"
#include "port/WindowSystem.h"
#include "store/Db.h"
#include "store/Endpoints.h"
#include "store/GoodsRefreshProgress.h"
#include "store/SafeMode.h"
#include "store/SettingRules.h"
#include "store/StorageHealth.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

// Every post parameter is a setting. Each is checked first (validateSetting):
// one refused value refuses the request before anything is written. The
// whole change is then one transaction: either every value is stored or, on
// failure, none is; the settings cache is then read back from the table so
// that the program does not run on values the seller was told were not saved.
void setConfig(ActionContext& context) {
  const std::shared_ptr<IDb>& db = context.db;
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  ActionGuard guard;
  bool begun = false;
  guard.onFailure = [&db, &begun] {
    if (!begun) return;
    db->rollback();
    SystemConfig::instance()->load(db);
  };
  context.answerJsonp(
      reply,
      [&](Json::Value& reply) {
        // Every refused value is named at once ("ERRORS": key to message),
        // so the page can show each beside its field; nothing is stored then.
        std::map<std::string, std::string> values;
        Json::Value errors(Json::objectValue);
        std::string first;
        for (const auto& [key, value] : context.request.post) {
          if (key.empty() && value.empty()) continue;  // "a=1&": the last "&" names no setting
          try {
            validateSetting(key, value);
          } catch (Exception e) {
            if (first.empty()) first = e.message();
            errors[key] = e.message();
            continue;
          }
          values[key] = value;
        }
        if (!errors.empty()) {
          reply["ERRORS"] = errors;
          if (errors.size() == 1) throw Exception(first);
          throw Exception(std::to_string(errors.size()) + gbk(" 项设置有误，原因写在各项旁边。第一项：") + first);
        }
        db->begin();
        begun = true;
        SystemConfig::instance()->setMany(db, values);
        // The desktop's autostart entry follows the setting; when it cannot
        // be changed, nothing is saved and the page says why.
        const auto autostart = values.find("autostart");
        if (autostart != values.end()) context.env.get<port::Autostart>()->set(autostart->second == "1");
        db->commit();
      },
      guard);
}

// What the page may show beside the settings: {"min", "max", "unit",
// "default"} for each numeric setting and {"default"} for each address.
Json::Value settingRulesJson() {
  Json::Value rules(Json::objectValue);
  for (const SettingRule& rule : settingRules()) {
    Json::Value json(Json::objectValue);
    json["min"] = static_cast<Json::Int64>(rule.min);
    json["max"] = static_cast<Json::Int64>(rule.max);
    json["unit"] = rule.unit;
    json["default"] = rule.defaultValue;
    rules[rule.key] = std::move(json);
  }
  for (const EndpointDefault& endpoint : endpointDefaults()) {
    Json::Value json(Json::objectValue);
    json["default"] = endpoint.value;
    rules[endpoint.key] = std::move(json);
  }
  return rules;
}

// "LIST" holds every setting as a string member (null when there is none).
// With the post parameter rules=1 (the settings form, once per load) "RULES"
// adds the ranges and defaults (settingRulesJson); without it the answer is
// the settings alone, as the program's other callers read it.
void getConfig(ActionContext& context) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  reply["MSG"] = "";
  context.answerJsonp(reply, [&context](Json::Value& reply) {
    Json::Value list;
    for (const auto& [key, value] : SystemConfig::instance()->getAll()) list[key] = value;
    reply["LIST"] = std::move(list);
    if (context.postParam("rules") == "1") reply["RULES"] = settingRulesJson();
  });
}

void getStatus(ActionContext& context, Deamon& daemon) {
  // Static names are stored without a copy of their own.
  Json::Value reply(Json::objectValue);
  reply[Json::StaticString("SUCCESS")] = 1;
  context.answerJsonp(reply, [&daemon, &context](Json::Value& reply) {
    // Neither the registry nor the running flag needs the global lock, which
    // a login holds while the marketplace answers: the status never waits.
    std::shared_ptr<Registry> registry = Registry::instance();
    reply[Json::StaticString("RUNNING")] = daemon.running();
    reply[Json::StaticString("ACCOUNT")] = registry->getOr<std::string>("account", std::string());
    reply[Json::StaticString("CHECK_TIME")] = pageTime(registry->getOr<std::int64_t>("checkLastTime", 0));
    reply[Json::StaticString("SEND_MSG_TIME")] = pageTime(registry->getOr<std::int64_t>("sendMsgTime", 0));
    // The last login attempt through the "login" action; null before the first.
    const std::optional<LoginResult> login = lastLoginResult();
    Json::Value loginMessage;
    if (login) {
      loginMessage[Json::StaticString("SUCCESS")] = login->success ? 1 : 0;
      loginMessage[Json::StaticString("MSG")] = login->message;
      loginMessage[Json::StaticString("TIME")] = pageTime(login->time);
    }
    reply[Json::StaticString("LOGIN_MSG")] = std::move(loginMessage);
    // The goods refresh, from its own lock only: never waits for a page.
    const GoodsRefreshProgress::State refresh = GoodsRefreshProgress::instance()->state();
    Json::Value progress(Json::objectValue);
    progress[Json::StaticString("RUNNING")] = refresh.running;
    progress[Json::StaticString("PAGES")] = refresh.pages;
    progress[Json::StaticString("ITEMS")] = refresh.items;
    progress[Json::StaticString("FINISHED")] = pageTime(refresh.finished);
    progress[Json::StaticString("MSG")] = refresh.message;
    reply[Json::StaticString("REFRESH")] = std::move(progress);
    // Safe mode (the database was found damaged at start) and a disk that
    // does not take writes: the page shows a banner for each.
    const std::shared_ptr<SafeMode> safe = SafeMode::instance();
    reply[Json::StaticString("DB_DAMAGED")] = safe->damaged();
    reply[Json::StaticString("SAFE_MSG")] = safe->message();
    reply[Json::StaticString("STORAGE_MSG")] = storageHealth().message();
    // Where the IM client cannot run, the page offers e-mail instead and
    // warns of categories that only send by IM.
    reply[Json::StaticString("IM_AVAILABLE")] = context.env.get<port::WindowSystem>()->imClientPossible();
  });
}

}  // namespace

void registerStatusActions(const Env& env, std::shared_ptr<Deamon> daemon) {
  // Built now, so that getStatus finds it made and never builds it (building
  // a process-wide object takes the global lock).
  GoodsRefreshProgress::instance();
  SafeMode::instance();
  env.get<port::WindowSystem>();
  registerAction(env, "setConfig", setConfig);
  registerAction(env, "getConfig", getConfig);
  registerAction(env, "getStatus", [daemon](ActionContext& context) { getStatus(context, *daemon); });
  registerAction(env, "getOverview", getOverview);
}

}  // namespace Quorvel
