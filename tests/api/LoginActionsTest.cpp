// "login" and "getJs" through a real local server, against market-sim as the
// marketplace and a loopback server as the maker's service.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "api/CategoryActions.h"
#include "api/LoginActions.h"
#include "store/Category.h"
#include "api/StatusActions.h"
#include "base/Charset.h"
#include "base/GlobalLock.h"
#include "base/ProcessWide.h"
#include "base/Registry.h"
#include "market/CookieJar.h"
#include "market/HttpClient.h"
#include "market/LoginPage.h"
#include "market/MarketHosts.h"
#include "server/ServerThread.h"
#include "sim/MarketSim.h"
#include "store/SystemConfig.h"
#include "tests/api/ApiClient.h"
#include "tests/market/LoopbackServer.h"
#include "tests/market/TempFolder.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel::testing {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;

SimOptions chineseSeller() {
  SimOptions options;
  options.account = gbk("乕卖家");  // a trail byte of 0x5C
  return options;
}

class LoginActions : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    testing::useDatabaseWallTime(env_.sharedClock());
    sim_.start(0);
    config()->set(getDb(), "market_base", sim_.baseUrl());
    config()->set(getDb(), "maker_base", maker_.url(""));
    CookieJar::instance()->open(folder_.file("cookie.txt"));
    daemon_ = std::make_shared<Deamon>(env_);
    registerStatusActions(env_, daemon_);
    registerLoginActions(env_, daemon_);
    server_ = std::make_unique<TestServer>();
    uiPort = server_->port();
  }
  void TearDown() override {
    server_.reset();
    sim_.stop();
    StoreFixture::TearDown();
  }

  static std::shared_ptr<SystemConfig> config() { return SystemConfig::instance(); }

  std::string get(const std::string& target) {
    return exchange(server_->port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  std::string postLogin(const std::string& form) {
    return exchange(server_->port(), "POST /?do=login HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                     "application/x-www-form-urlencoded\r\nContent-Length: " +
                                         std::to_string(form.size()) + "\r\n\r\n" + form);
  }
  std::string rightForm() {
    return "TPL_username=" + percentEncode(sim_.shop().account()) + "&TPL_password=" + sim_.shop().password() +
           "&longLogin=1&TPL_redirect_url=x";
  }
  std::string account() { return Registry::instance()->getOr<std::string>("account", "?"); }
  Json::Value loginMessage() { return callAction(server_->port(), "getStatus")["LOGIN_MSG"]; }
  std::string localLogin() { return localAddress("127.0.0.1", "do=login"); }

  TempFolder folder_;
  MarketSim sim_{chineseSeller()};
  LoopbackServer maker_{[](const SeenRequest& request) {
    if (request.target == "/js/jquery-1.8.0.min.js") return answer(200, "window.jQuery = {};");
    return answer(200, "/* " + request.target + " */");
  }};
  std::shared_ptr<Deamon> daemon_;
  // The actions' own: a clock that stands still at kNow.
  const Env env_{std::make_shared<FakeClock>(kNow)};
  std::unique_ptr<TestServer> server_;
};

TEST_F(LoginActions, AVisitShowsTheRewrittenPageAndStopsTheDaemon) {
  daemon_->setRunning(true);
  std::string response = get("/?do=login");
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/html;charset=GBK");
  std::string page = bodyOf(response);
  EXPECT_TRUE(showsLoginBox(page));
  EXPECT_FALSE(daemon_->running());
  EXPECT_NE(page.find("if ( false )"), std::string::npos);
  EXPECT_EQ(page.find(sim_.baseUrl() + "/member/login.jhtml"), std::string::npos);
  EXPECT_NE(page.find("action=\"" + localLogin() + "\""), std::string::npos);
  EXPECT_NE(page.find("name=\"longLogin\" checked=\"checked\""), std::string::npos);
  // One script block before the head's end, the key before every url=.
  const std::string scripts = localAddress("127.0.0.1", "do=getJs&charset=utf-8") + "&url=" + maker_.url("");
  EXPECT_LT(page.find("<script src=\"" + scripts + "/js/jquery-1.8.0.min.js\""), page.find("</head>"));
  EXPECT_NE(page.find(localAddress("127.0.0.1", "do=getJs&charset=gbk") + "&url=" + maker_.url("") +
                      "/vendara2012/1100/js/login.js"),
            std::string::npos);
  EXPECT_NE(page.find("var loginInfo={\"auto\":0,\"pwd\":\"\",\"user\":\"\"}\n;</script></head>"), std::string::npos);
  EXPECT_TRUE(loginMessage().isNull()) << "a visit is no login attempt";
}

TEST_F(LoginActions, LoginInfoCarriesTheStoredAccountAndTheAutoSwitch) {
  config()->set(getDb(), "taobao_user", gbk("乕卖家"));
  config()->set(getDb(), "taobao_pwd", "a\"b</script>&");
  config()->set(getDb(), "taobao_autologin", "1");
  std::string page = bodyOf(get("/?do=login"));
  EXPECT_NE(page.find("var loginInfo={\"auto\":1,\"pwd\":\"a\\\"b\\u003c/script\\u003e\\u0026\",\"user\":\"" +
                      gbk("乕卖家") + "\"}\n;"),
            std::string::npos);
  EXPECT_EQ(page.find("</script>&"), std::string::npos) << "no stored value can end the script";

  config()->set(getDb(), "taobao_autologin", "true");
  EXPECT_NE(bodyOf(get("/?do=login")).find("var loginInfo={\"auto\":0,"), std::string::npos);
}

TEST_F(LoginActions, TheScriptAddressesOfThePageAreServedThroughTheProxy) {
  std::string page = bodyOf(get("/?do=login"));
  const std::string local = "http://127.0.0.1:" + std::to_string(server_->port());
  size_t start = page.find("<script src=\"" + local) + std::string("<script src=\"").size() + local.size();
  std::string target = page.substr(start, page.find('"', start) - start);
  // Sent as the browser sends it: the address as it stands, key included.
  std::string response = exchangeAsIs(server_->port(), "GET " + target + " HTTP/1.1\r\n" + hostHeader(server_->port()) + "\r\n");
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8");
  EXPECT_EQ(bodyOf(response), "window.jQuery = {};");
}

TEST_F(LoginActions, ARefusedLoginShowsTheMarketplacesAnswerAndItsReading) {
  daemon_->setRunning(true);
  std::string form = "TPL_username=" + percentEncode(sim_.shop().account()) + "&TPL_password=wrong";
  std::string page = bodyOf(postLogin(form));
  EXPECT_TRUE(showsLoginBox(page));
  EXPECT_NE(page.find(gbk("您输入的密码和账户名不匹配，请重新输入")), std::string::npos);
  EXPECT_NE(page.find("action=\"" + localLogin() + "\""), std::string::npos) << "the seller may try again";
  EXPECT_NE(page.find("var loginInfo="), std::string::npos);
  EXPECT_FALSE(daemon_->running());
  EXPECT_EQ(account(), "");
  Json::Value message = loginMessage();
  EXPECT_EQ(message["SUCCESS"], Json::Value(0));
  EXPECT_EQ(message["MSG"].asString(), "密码错误");
  EXPECT_EQ(message["TIME"].asInt64(), kNow);

  sim_.shop().setCaptcha(true);
  postLogin(rightForm());
  EXPECT_EQ(loginMessage()["MSG"].asString(), "登录失败！") << "a code request keeps the default";
  sim_.shop().setCaptcha(false);

  postLogin("TPL_username=&TPL_password=x");
  EXPECT_EQ(loginMessage()["MSG"].asString(), "请输入账户名。") << "the marketplace's own message";
  EXPECT_FALSE(daemon_->running());
  EXPECT_EQ(sim_.shop().sessionCount(), 0);
}

TEST_F(LoginActions, AnAcceptedLoginStoresTheAccountStartsTheDaemonAndClosesTheView) {
  std::string response = postLogin(rightForm());
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/html;charset=GBK");
  EXPECT_EQ(bodyOf(response), loginCloseScript(maker_.url("")));
  EXPECT_EQ(account(), sim_.shop().account());
  EXPECT_TRUE(daemon_->running());
  Json::Value status = callAction(server_->port(), "getStatus");
  EXPECT_EQ(status["RUNNING"], Json::Value(true));
  EXPECT_EQ(status["ACCOUNT"].asString(), "乕卖家");
  EXPECT_EQ(status["LOGIN_MSG"]["SUCCESS"], Json::Value(1));
  EXPECT_EQ(status["LOGIN_MSG"]["MSG"].asString(), "登录成功");
  // The session lives in the program's own cookie jar.
  EXPECT_FALSE(showsLoginBox(httpGet(env_, MarketHosts::paidOrdersPage())));

  // The next visit stops the daemon again until the next login.
  get("/?do=login");
  EXPECT_FALSE(daemon_->running());
}

TEST_F(LoginActions, AnUnreachableMarketplaceIsNoLogin) {
  sim_.stop();
  std::string response = get("/?do=login");
  EXPECT_EQ(bodyOf(response), "") << "nothing arrived, nothing to rewrite";
  EXPECT_EQ(loginMessage()["SUCCESS"], Json::Value(0));
  EXPECT_EQ(loginMessage()["MSG"].asString().rfind("无法打开淘宝登录页：", 0), 0u);

  daemon_->setRunning(true);
  std::string page = bodyOf(postLogin(rightForm()));
  EXPECT_FALSE(daemon_->running());
  EXPECT_EQ(account(), "");
  EXPECT_NE(page.find(gbk("登录失败！")), std::string::npos);
  EXPECT_NE(page.find("href=\"" + localLogin() + "\""), std::string::npos);
  EXPECT_EQ(loginMessage()["MSG"].asString().rfind("登录失败！淘宝无法访问：", 0), 0u);
}

TEST_F(LoginActions, AnErrorAnswerIsNoLogin) {
  sim_.shop().setFaults({.emptyAnswers = true});
  postLogin(rightForm());
  EXPECT_FALSE(daemon_->running());
  EXPECT_EQ(loginMessage()["MSG"].asString(), "登录失败！淘宝无法访问：淘宝没有应答");
}

TEST_F(LoginActions, TheGlobalLockIsHeldWhileTheMarketplaceAnswersButTheStatusDoesNotWait) {
  registerCategoryActions(env_);
  Category::instance();
  sim_.shop().setFaults({.slowMillis = 400});
  std::atomic<bool> done{false};
  std::thread login([&] {
    runLogin(env_, {}, *daemon_);
    done = true;
  });
  while (sim_.heldAnswers() == 0 && !done) std::this_thread::yield();
  EXPECT_FALSE(globalLock().try_lock()) << "another thread waits for the login";
  // The status and the database actions do not wait for the marketplace
  // (the program builds its stores at start; first use builds them under the
  // global lock).
  EXPECT_EQ(callAction(server_->port(), "getStatus")["SUCCESS"].asInt(), 1);
  Json::Value categories = callAction(server_->port(), "category&action=lst");
  EXPECT_EQ(categories["SUCCESS"].asInt(), 1) << categories.toStyledString();
  EXPECT_FALSE(done) << "the marketplace was meant to be still answering";
  login.join();
  if (globalLock().try_lock()) {
    globalLock().unlock();
  } else {
    ADD_FAILURE() << "the global lock stayed held after the login";
  }
}

TEST_F(LoginActions, ScriptProxyAnswersWithTheRequestedCharset) {
  std::string response = get("/?do=getJs&url=" + maker_.url("/js/a.js"));
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8");
  EXPECT_EQ(bodyOf(response), "/* /js/a.js */");
  EXPECT_EQ(headerOf(get("/?do=getJs&charset=gbk&url=" + maker_.url("/b.js")), "Content-Type"),
            "text/javascript;charset=gbk");
}

TEST_F(LoginActions, ScriptProxyFetchesNothingOffTheAllowedHosts) {
  LoopbackServer foreign([](const SeenRequest&) { return answer(200, "stolen();"); });
  std::string response = get("/?do=getJs&charset=gbk&url=" + foreign.url("/x.js"));
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=gbk");
  EXPECT_EQ(bodyOf(response), "");
  response = get("/?do=getJs&url=file:///etc/passwd");
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8");
  EXPECT_EQ(bodyOf(response), "");
  // A charset that is no label never reaches the header block.
  response = get("/?do=getJs&charset=gbk%0D%0ASet-Cookie:%20a=b&url=" + maker_.url("/a.js"));
  EXPECT_EQ(headerOf(response, "Content-Type"), "text/javascript;charset=utf-8");
  EXPECT_EQ(headerOf(response, "Set-Cookie"), "<none>");
  EXPECT_EQ(bodyOf(response), "");
  EXPECT_TRUE(foreign.requests().empty());
  EXPECT_TRUE(maker_.requests().empty());
}

}  // namespace
}  // namespace Quorvel::testing
