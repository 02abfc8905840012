#include "api/LoginActions.h"

#include "api/ActionDispatch.h"
#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/GlobalLock.h"
#include "base/Registry.h"
#include "base/WebAddress.h"
#include "market/HttpClient.h"
#include "market/LoginPage.h"
#include "market/MarketHosts.h"
#include "market/ScriptProxy.h"
#include "server/ServerThread.h"
#include "server/StyledJson.h"
#include "store/Endpoints.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

const char kLoginResultKey[] = "loginResult";

// The caller holds the global lock (the Registry's values change under it).
void recordLogin(Clock& clock, bool success, const std::string& message) REQUIRES(globalLock()) {
  Registry::instance()->set(kLoginResultKey, LoginResult{success, message, clock.now()});
}

// The setting when it has the shape `accepts` wants, else its default.
std::string endpointOr(const std::string& key, bool (*accepts)(std::string_view)) {
  std::string value = endpointSetting(key);
  return accepts(value) ? value : endpointDefault(key);
}

// The local and maker addresses the rewritten page points at.
LoginPageAddresses pageAddresses() {
  const std::string host = endpointOr("local_host", isHost);
  LoginPageAddresses addresses;
  addresses.marketLoginPage = MarketHosts::loginPage();
  addresses.localLogin = localAddress(host, "do=login");
  addresses.scriptUtf8 = localAddress(host, "do=getJs&charset=utf-8") + "&url=";
  addresses.scriptGbk = localAddress(host, "do=getJs&charset=gbk") + "&url=";
  addresses.makerBase = endpointOr("maker_base", isBaseAddress);
  return addresses;
}

// A value of the stored login data as a JSON string; a value that is not
// GBK text is left out rather than written broken.
std::string jsonString(const std::string& value) {
  try {
    return quoteJsonString(value);
  } catch (Exception) {
    return "\"\"";
  }
}

std::string storedLoginInfo() {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  return loginInfoScript(config->get("taobao_user"), config->get("taobao_pwd"),
                         config->get("taobao_autologin") == "1");
}

// The local login address for a page that cannot rely on the settings.
std::string fallbackLoginAddress() {
  try {
    return localAddress(endpointOr("local_host", isHost), "do=login");
  } catch (Exception) {
    return localAddress(endpointDefault("local_host"), "do=login");
  }
}

// Why the marketplace's answer to a forwarded form is no answer at all: an
// unreachable marketplace, an error status (4xx, 5xx) or an empty answer.
// Empty text for an answer to be read.
std::string unusableAnswer(const HttpResult& answer) {
  if (!answer.error.empty() || answer.status >= 400) return answer.reason();
  if (answer.body.empty()) return gbk("淘宝没有应答");
  return {};
}

void login(ActionContext& context, Deamon& daemon) {
  context.setHeader("Content-Type", "text/html;charset=GBK");
  context.appendBody(runLogin(context.env, context.request.post, daemon));
}

void getJs(ActionContext& context) {
  std::string charset = context.queryParam("charset");
  if (charset.empty()) charset = "utf-8";
  if (!isCharsetLabel(charset)) {
    // Nothing but a label may reach the header line; nothing is fetched.
    context.setHeader("Content-Type", "text/javascript;charset=utf-8");
    return;
  }
  context.setHeader("Content-Type", "text/javascript;charset=" + charset);
  context.appendBody(fetchScript(context.env, context.queryParam("url")));
}

}  // namespace

std::optional<LoginResult> lastLoginResult() {
  std::shared_ptr<LoginResult> result = Registry::instance()->get<LoginResult>(kLoginResultKey);
  if (!result) return std::nullopt;
  return *result;
}

std::string loginInfoScript(const std::string& user, const std::string& pwd, bool autoLogin) {
  const std::string json = std::string("{\"auto\":") + (autoLogin ? "1" : "0") + ",\"pwd\":" + jsonString(pwd) +
                           ",\"user\":" + jsonString(user) + "}\n";
  // No GBK trail byte has the code of these three, so bytes may be replaced.
  std::string script;
  for (char c : json) {
    switch (c) {
      case '<': script += "\\u003c"; break;
      case '>': script += "\\u003e"; break;
      case '&': script += "\\u0026"; break;
      default: script += c;
    }
  }
  return script;
}

bool isCharsetLabel(const std::string& label) {
  if (label.empty() || label.size() > 40) return false;
  for (char c : label) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

std::string runLogin(const Env& env, const ParamMap& post, Deamon& daemon) {
  GlobalGuard hold;
  daemon.setRunning(false);
  try {
    const LoginPageAddresses addresses = pageAddresses();
    HttpResult answer;
    if (post.empty()) {
      answer = httpFetch(env, addresses.marketLoginPage, FormFields());
      const std::string trouble = unusableAnswer(answer);
      if (!trouble.empty()) recordLogin(env.clock(), false, gbk("无法打开淘宝登录页：") + trouble);
    } else {
      answer = httpFetch(env, addresses.marketLoginPage, FormFields(post.begin(), post.end()));
      const std::string trouble = unusableAnswer(answer);
      if (!trouble.empty()) {
        // Without the marketplace's word there is no login: the daemon stays
        // stopped and the seller is told why.
        const std::string message = loginFailedText() + gbk("淘宝无法访问：") + trouble;
        recordLogin(env.clock(), false, message);
        return loginTroublePage(message, addresses.localLogin);
      }
      if (!showsLoginBox(answer.body)) {
        auto account = post.find("TPL_username");
        Registry::instance()->set<std::string>("account", account == post.end() ? std::string() : account->second);
        daemon.setRunning(true);
        recordLogin(env.clock(), true, gbk("登录成功"));
        return loginCloseScript(addresses.makerBase);
      }
      recordLogin(env.clock(), false, classifyLoginFailure(answer.body));
    }
    return rewriteLoginPage(answer.body, addresses, storedLoginInfo());
  } catch (Exception e) {
    // A failing settings store or client: the daemon stays stopped, the seller
    // sees why, and the server keeps its port.
    const std::string message = loginFailedText() + e.message();
    recordLogin(env.clock(), false, message);
    return loginTroublePage(message, fallbackLoginAddress());
  }
}

void registerLoginActions(const Env& env, std::shared_ptr<Deamon> daemon) {
  registerAction(
      env, "login", [daemon](ActionContext& context) { login(context, *daemon); }, ActionPlace::kOutsideWorker);
  registerAction(env, "getJs", getJs, ActionPlace::kOutsideWorker);
}

}  // namespace Quorvel
