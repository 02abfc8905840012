// The control interface, the switches and the fault modes, and the byte-exact
// form reading underneath the pages.
#include <json/json.h>

#include <atomic>
#include <set>
#include <thread>

#include "SimTestKit.h"
#include "base/Exception.h"
#include "sim/SimForm.h"

namespace Quorvel {
namespace {

using SimControl_ = SimFixture;

const char* const kJson = "application/json";
const std::string kTitleUtf8 = "\xE7\x82\xB9\xE5\x8D\xA1 50";  // 点卡 50

TEST_F(SimControl_, ItemsAndPaidOrdersPlacedOverHttpShowOnThePages) {
  login();
  Page added = browser_->post("/__sim/items", R"({"title": ")" + kTitleUtf8 + R"(", "price": "4.50"})", kJson);
  ASSERT_EQ(added.status, 200) << added.body;
  std::string itemId = json(added)["item"]["id"].asString();
  ASSERT_TRUE(simIsDigits(itemId));
  EXPECT_EQ(sim_.shop().item(itemId)->title, gbk(kTitleUtf8)) << "held as GBK";

  Page placed = browser_->post("/__sim/orders",
                               R"({"buyer": "buyer_x", "email": "x@example.com", "lines": [{"item_id": ")" + itemId +
                                   R"(", "num": 3}]})",
                               kJson);
  ASSERT_EQ(placed.status, 200) << placed.body;
  Json::Value order = json(placed)["order"];
  EXPECT_EQ(order["state"].asInt(), kSimPaid);
  EXPECT_EQ(order["lines"][0]["num"].asInt(), 3);
  std::string detailUrl = order["detail_url"].asString();
  ASSERT_EQ(detailUrl.rfind(base(), 0), 0u);

  std::string list = browser_->get(kPaidListTarget).body;
  EXPECT_NE(list.find("href=\"" + detailUrl + "\" class=\"detail-link\""), std::string::npos);
  std::string detail = browser_->get(detailUrl.substr(base().size())).body;
  EXPECT_NE(detail.find("<td class=\"num\">3</td>"), std::string::npos);
  EXPECT_NE(detail.find(gbk(kTitleUtf8)), std::string::npos);

  Json::Value state = json(browser_->get("/__sim/state"));
  EXPECT_EQ(state["items"].size(), 7u);
  EXPECT_EQ(state["orders"].size(), 3u);
  EXPECT_EQ(state["orders"][0]["order_id"], order["order_id"]) << "newest first";
}

TEST_F(SimControl_, DemoNamesCarryGbkCharactersWhoseSecondByteIsAsciiIntact) {
  // 淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]: in titles and in buyer and IM names,
  // one of each ending in 淺.
  const char* const awkward[] = {"淺", "東", "乛", "乕", "亄", "匽"};
  auto endsWith = [](const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  std::vector<SimItem> items = sim_.shop().items();
  std::vector<SimOrder> orders = sim_.shop().orders();
  std::string titles, buyers, ims;
  bool titleEnds = false, buyerEnds = false;
  for (const SimItem& item : items) {
    titles += item.title + "|";
    titleEnds = titleEnds || endsWith(item.title, gbk("淺"));
  }
  for (const SimOrder& order : orders) {
    buyers += order.buyer + "|";
    ims += order.ww + "|";
    buyerEnds = buyerEnds || endsWith(order.buyer, gbk("淺"));
  }
  for (const char* c : awkward) {
    EXPECT_NE(titles.find(gbk(c)), std::string::npos) << c;
    EXPECT_NE(buyers.find(gbk(c)), std::string::npos) << c;
  }
  EXPECT_TRUE(titleEnds);
  EXPECT_TRUE(buyerEnds);
  EXPECT_NE(ims.find(gbk("淺")), std::string::npos);

  // The control interface reads them back as the same characters in UTF-8.
  Json::Value state = json(browser_->get("/__sim/state"));
  ASSERT_EQ(state["items"].size(), items.size());
  for (Json::ArrayIndex k = 0; k < items.size(); ++k) {
    EXPECT_EQ(state["items"][k]["title"].asString(), gbkToUtf8(items[k].title));
  }
  ASSERT_EQ(state["orders"].size(), orders.size());
  for (Json::ArrayIndex k = 0; k < orders.size(); ++k) {
    EXPECT_EQ(state["orders"][k]["buyer"].asString(), gbkToUtf8(orders[k].buyer));
    EXPECT_EQ(state["orders"][k]["ww"].asString(), gbkToUtf8(orders[k].ww));
  }

  // The pages carry them byte for byte, and the web IM page takes the name
  // back percent-encoded.
  login();
  std::string onSale = browser_->get("/auction/goods/goods_on_sale.htm?page=1").body +
                       browser_->get("/auction/goods/goods_on_sale.htm?page=2").body;
  for (const SimItem& item : items) EXPECT_NE(onSale.find("title=\"" + item.title + "\""), std::string::npos);
  SimOrder paid = demoOrder(kSimPaid);
  std::string detail = browser_->get("/trade/detail/trade_item_detail.htm?bizOrderId=" + paid.id).body;
  EXPECT_NE(detail.find("<span class=\"nickname\">" + paid.buyer + "</span>"), std::string::npos);
  EXPECT_NE(detail.find("data-nick=\"" + paid.ww + "\""), std::string::npos);
  browser_->get("/webww/?ver=1&&touid=" + simPercentEncode("cntaobao" + paid.ww) + "&siteid=cntaobao&status=1");
  ASSERT_EQ(sim_.shop().chats().size(), 1u);
  EXPECT_EQ(sim_.shop().chats()[0], "cntaobao" + paid.ww);
}

TEST_F(SimControl_, BadControlRequestsAreRefusedWithoutChangingTheShop) {
  EXPECT_EQ(browser_->post("/__sim/items", "{not json", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/items", R"({"title": ""})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/items", R"({"title": "a", "id": "12x"})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/orders", R"({"buyer": "b", "item_id": "404"})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/orders", R"({"buyer": "b"})", kJson).status, 400) << "no goods line";
  EXPECT_EQ(browser_->post("/__sim/orders", R"({"buyer": "b", "item_id": ")" + sim_.shop().items()[0].id +
                                                R"(", "num": 0})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/order_state", R"({"order_id": "1", "state": 2})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/settings", R"({"archive_prefix": "/a b"})", kJson).status, 400);
  EXPECT_EQ(browser_->post("/__sim/settings", R"({"consign_variant": 3})", kJson).status, 400);
  EXPECT_EQ(browser_->get("/__sim/nothing").status, 404);
  EXPECT_EQ(sim_.shop().items().size(), 6u);
  EXPECT_EQ(sim_.shop().orders().size(), 2u);
}

TEST_F(SimControl_, CaptchaSwitchIsSetOverHttpAndTheStateTellsTheCode) {
  Json::Value set = json(browser_->post("/__sim/settings", R"({"captcha": true})", kJson));
  EXPECT_TRUE(set["captcha"].asBool());
  EXPECT_TRUE(sim_.shop().captcha());
  Json::Value state = json(browser_->get("/__sim/state"));
  EXPECT_TRUE(state["captcha"].asBool());
  EXPECT_EQ(state["captcha_code"].asString(), sim_.shop().captchaCode());
  EXPECT_TRUE(contains(browser_->get("/member/login.jhtml").body, "为了您的账号安全，请输入验证码。"));
  browser_->post("/__sim/settings", R"({"captcha": false})", kJson);
  EXPECT_FALSE(contains(browser_->get("/member/login.jhtml").body, "为了您的账号安全，请输入验证码。"));
}

TEST_F(SimControl_, LogoutEndsTheSessionAndReadBackReportsWhatTheClientDid) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  std::string note = gbk("卡密：AB-12");
  ASSERT_TRUE(sim_.shop().consign(order.id, note + "\xB5", "/logistics/x"));  // cut inside a character
  ASSERT_TRUE(sim_.shop().writeMemo(order.id, "1", note));
  ASSERT_TRUE(sim_.shop().rate(order.id, "1", gbk("好评")));

  Json::Value consigned = json(browser_->get("/__sim/consigned"))["consigned"];
  ASSERT_EQ(consigned.size(), 1u);
  EXPECT_EQ(consigned[0]["order_id"].asString(), order.id);
  EXPECT_EQ(consigned[0]["note"].asString(), gbkToUtf8(note) + "\xEF\xBF\xBD") << "a broken byte, not a failure";
  EXPECT_EQ(json(browser_->get("/__sim/memos"))["memos"][0]["memo"].asString(), gbkToUtf8(note));
  EXPECT_EQ(json(browser_->get("/__sim/ratings"))["ratings"][0]["comment"].asString(), gbkToUtf8(gbk("好评")));

  EXPECT_EQ(browser_->post("/__sim/logout", "", kJson).status, 200);
  EXPECT_EQ(sim_.shop().sessionCount(), 0);
  EXPECT_TRUE(contains(browser_->get("/auction/goods/goods_on_sale.htm").body, "标准登录框"));
}

TEST_F(SimControl_, EmptyAnswersAndTheLoginBoxEverywhereSpareTheControlInterface) {
  login();
  ASSERT_EQ(browser_->post("/__sim/faults", R"({"empty_answers": true})", kJson).status, 200);
  Page page = browser_->get(kPaidListTarget);
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(page.body.empty());
  EXPECT_TRUE(browser_->get("/member/login.jhtml").body.empty());
  EXPECT_TRUE(json(browser_->get("/__sim/faults"))["faults"]["empty_answers"].asBool());

  browser_->post("/__sim/faults", R"({"empty_answers": false, "login_everywhere": true})", kJson);
  EXPECT_TRUE(contains(browser_->get("/trade/itemlist/list_sold_items.htm").body, "标准登录框"));
  EXPECT_TRUE(contains(browser_->get("/trade/detail/trade_snap.htm?trade_id=1").body, "标准登录框"));
  EXPECT_EQ(sim_.shop().sessionCount(), 1) << "the session itself is kept";

  browser_->post("/__sim/faults", R"({"login_everywhere": false})", kJson);
  EXPECT_FALSE(contains(browser_->get("/trade/itemlist/list_sold_items.htm").body, "标准登录框"));
}

TEST_F(SimControl_, RedirectLoopNeverReachesAPageUntilSwitchedOff) {
  login();
  sim_.shop().setFaults({.redirectLoop = true});
  std::string target = "/auction/goods/goods_on_sale.htm?page=2";
  std::vector<std::string> hops;
  for (int hop = 0; hop < 6; ++hop) {
    Page page = browser_->get(target);
    ASSERT_EQ(page.status, 302) << "hop " << hop;
    ASSERT_EQ(page.location.rfind(base() + "/", 0), 0u);
    target = page.location.substr(base().size());
    hops.push_back(target);
  }
  EXPECT_EQ(hops[1], "/auction/goods/goods_on_sale.htm?page=2") << "back where it started";
  EXPECT_EQ(hops[0], hops[2]);

  sim_.shop().setFaults({});
  Page back = browser_->get(hops[0]);  // the pending hop leads to the page
  ASSERT_EQ(back.status, 302);
  EXPECT_EQ(back.location, base() + "/auction/goods/goods_on_sale.htm?page=2");
}

TEST_F(SimControl_, SlowAnswersArriveAndStopDoesNotWaitForThem) {
  login();
  browser_->post("/__sim/faults", R"({"slow_ms": 20})", kJson);
  EXPECT_NE(browser_->get("/auction/goods/goods_on_sale.htm").body.find("item-pic"), std::string::npos);

  sim_.shop().setFaults({.slowMillis = 600000});
  std::atomic<bool> answered{false};
  std::thread client([&] {
    Browser other(sim_.port());
    try {
      other.get("/auction/goods/goods_on_sale.htm");
    } catch (const std::exception&) {
    }
    answered = true;
  });
  while (sim_.heldAnswers() == 0) std::this_thread::yield();
  EXPECT_FALSE(answered);
  sim_.stop();  // would hang for ten minutes if the held answer kept its worker
  client.join();
  EXPECT_TRUE(answered);
}

TEST(SimOpen, OpenSwitchServesSellerPagesWithoutLogin) {
  SimOptions options;
  options.open = true;
  MarketSim sim(options);
  sim.start(0);
  Browser browser(sim.port());
  EXPECT_FALSE(contains(browser.get("/trade/itemlist/list_sold_items.htm").body, "标准登录框"));
  sim.shop().setOpen(false);
  EXPECT_TRUE(contains(browser.get("/trade/itemlist/list_sold_items.htm").body, "标准登录框"));
  sim.stop();
  sim.stop();  // twice is harmless
}

TEST(SimStart, ATakenPortIsRefusedAndAStoppedSimulatorStartsAgain) {
  MarketSim first;
  first.start(0);
  MarketSim second;
  EXPECT_THROW(second.start(first.port()), Exception);
  EXPECT_THROW(first.start(0), Exception) << "already running";
  first.stop();
  first.start(0);
  Browser browser(first.port());
  EXPECT_TRUE(contains(browser.get("/member/login.jhtml").body, "标准登录框"));
  first.stop();
}

TEST(SimForm, FieldsDecodeToTheExactBytes) {
  SimFields fields = simParseFields("a=%D6%D0%CE%C4&&b=x+y%2D&c&d=100%&e=%zz");
  EXPECT_EQ(fields["a"], "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(fields["b"], "x y-");
  EXPECT_EQ(fields["c"], "");
  EXPECT_EQ(fields["d"], "100%");
  EXPECT_EQ(fields["e"], "%zz");
  EXPECT_EQ(fields.size(), 5u);
  EXPECT_EQ(simQueryFields("/p.htm?x=1&y=%41")["y"], "A");
  EXPECT_TRUE(simQueryFields("/p.htm").empty());
  EXPECT_EQ(simPercentEncode("a-\xD6 "), "a%2D%D6%20");
  EXPECT_EQ(simHtmlEscape("<a href=\"x\">&</a>\xB5\x5C"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;\xB5\x5C");
}

TEST(SimShop, OrdersPlacedFromManyThreadsGetTheirOwnNumbers) {
  SimShop shop("a", "b");
  SimItem item = shop.addItem({"", "t", "1.00", ""});
  std::vector<std::thread> threads;
  std::vector<std::vector<std::string>> ids(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 50; ++k) {
        SimOrderRequest wanted;
        wanted.buyer = "b";
        wanted.lines = {{item.id, 1}};
        ids[t].push_back(shop.addOrder(wanted).id);
        // Wrong passwords from several threads would add up to the code
        // being asked, whatever their order: every other round logs in.
        if (k % 2) shop.login("a", "b");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> unique;
  for (const auto& list : ids) unique.insert(list.begin(), list.end());
  EXPECT_EQ(unique.size(), 200u);
  EXPECT_EQ(shop.orders().size(), 200u);
  EXPECT_EQ(shop.sessionCount(), 100);
}

}  // namespace
}  // namespace Quorvel
