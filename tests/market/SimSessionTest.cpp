// The client against the marketplace simulator: login, session cookie across
// requests and restarts, seller pages found with the scrapers' patterns, and
// the consign page served after a redirect.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "base/Charset.h"
#include "market/CookieJar.h"
#include "market/HttpClient.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "sim/MarketSim.h"
#include "store/SystemConfig.h"
#include "tests/store/StoreFixture.h"

namespace Quorvel {
namespace {

class SimSessionTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    sim_.start(0);
    SystemConfig::instance()->set(getDb(), "market_base", sim_.baseUrl());
    CookieJar::instance()->open(folder_.file("cookie.txt"));
  }
  void TearDown() override {
    sim_.stop();
    StoreFixture::TearDown();
  }

  bool loginBoxOn(const std::string& page) { return containsText(gbk("标准登录框"), page); }

  testing::TempFolder folder_;
  MarketSim sim_;
};

TEST_F(SimSessionTest, LoginKeepsTheSessionAcrossRequestsAndRestarts) {
  const Env env;
  EXPECT_TRUE(loginBoxOn(httpGet(env, MarketHosts::paidOrdersPage())));
  std::string loginPage = httpGet(env, MarketHosts::loginPage());
  ASSERT_TRUE(loginBoxOn(loginPage));
  EXPECT_TRUE(containsText("TPL_username", loginPage));

  FormFields wrong{{"TPL_username", sim_.shop().account()}, {"TPL_password", "wrong"}};
  EXPECT_TRUE(loginBoxOn(httpRequest(env, MarketHosts::loginPage(), wrong, nullptr)));

  FormFields right{{"TPL_username", sim_.shop().account()}, {"TPL_password", sim_.shop().password()}};
  EXPECT_FALSE(loginBoxOn(httpRequest(env, MarketHosts::loginPage(), right, nullptr)));

  CookieJar::instance()->open(folder_.file("cookie.txt"));  // a restart of the program
  std::string list = httpGet(env, MarketHosts::paidOrdersPage());
  ASSERT_FALSE(loginBoxOn(list));
  std::vector<std::vector<std::string>> links;
  ASSERT_TRUE(regexMatchAll("<a href=\"([^\"]+?)\" class=\"detail-link\" target=\"_blank\">" +
                                quotePattern(gbk("详情")) + "</a>",
                            list, links));
  // The first is the list's help link; the order's link comes after it.
  ASSERT_EQ(links.size(), 2u);
  std::vector<std::string> number;
  EXPECT_FALSE(regexMatch("bizOrderId=([0-9]+)", links[0][1], number));
  ASSERT_TRUE(regexMatch("bizOrderId=([0-9]+)", links[1][1], number));

  // The detail page's snapshot links match the pattern built from the hosts.
  std::string detail = httpGet(env, links[1][1]);
  std::vector<std::vector<std::string>> snapshots;
  EXPECT_TRUE(regexMatchAll(MarketHosts::snapshotLinkPattern(), detail, snapshots));

  RedirectInfo redirect;
  std::string consign = httpGet(env, MarketHosts::consignPage(number[1]), &redirect);
  EXPECT_TRUE(containsText(gbk("确认收货信息及交易详情"), consign));
  EXPECT_EQ(redirect.status, 302);
  EXPECT_EQ(redirect.location.rfind(sim_.baseUrl() + "/", 0), 0u) << redirect.location;
  EXPECT_NE(redirect.location, MarketHosts::consignPage(number[1]));
}

}  // namespace
}  // namespace Quorvel
