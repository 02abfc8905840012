// The login and the pages the order pipeline reads: markers and patterns as
// the marketplace client matches them.
#include "SimTestKit.h"

namespace Quorvel {
namespace {

using SimPages_ = SimFixture;

const char* const kLoginMessage =
    R"(<div id="J_Message"  class="login-msg msg">(.+?)</div>.*<!--登录的错误信息结束-->)";
const char* const kDetailLink = R"~(<a href="([^"]+?)" class="detail-link" target="_blank">详情</a>)~";

TEST_F(SimPages_, LoginPageCarriesTheBoxTheFrameTestAndTheForm) {
  Page page = browser_->get("/member/login.jhtml");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/html;charset=gbk");
  EXPECT_TRUE(contains(page.body, "标准登录框"));
  EXPECT_NE(page.body.find("if(window.top !== window.self)"), std::string::npos);
  EXPECT_NE(page.body.find("name=\"longLogin\""), std::string::npos);
  EXPECT_NE(page.body.find("name=\"TPL_username\""), std::string::npos);
  EXPECT_NE(page.body.find("action=\"" + base() + "/member/login.jhtml\""), std::string::npos);
  size_t head = page.body.find("</head>");
  ASSERT_NE(head, std::string::npos);
  EXPECT_EQ(page.body.find("</head>", head + 1), std::string::npos) << "one head end, for the script block";
  EXPECT_FALSE(matchFirst(gbkPattern(kLoginMessage), page.body, nullptr)) << "no error on a first visit";
}

TEST_F(SimPages_, WrongPasswordShowsTheMessageAndTheBoxThenTheCodeRequest) {
  Page page = browser_->post("/member/login.jhtml", "TPL_username=vendara_demo&TPL_password=wrong");
  EXPECT_TRUE(contains(page.body, "标准登录框"));
  EXPECT_TRUE(page.setCookies.empty());
  Groups message;
  ASSERT_TRUE(matchFirst(gbkPattern(kLoginMessage), page.body, &message));
  EXPECT_TRUE(contains(message[1], "您输入的密码和账户名不匹配，请重新输入"));
  EXPECT_NE(page.body.find("value=\"vendara_demo\""), std::string::npos) << "the account is kept";

  browser_->post("/member/login.jhtml", "TPL_username=vendara_demo&TPL_password=wrong");
  page = browser_->post("/member/login.jhtml", "TPL_username=vendara_demo&TPL_password=wrong");
  EXPECT_TRUE(contains(page.body, "为了您的账号安全，请输入验证码。"));
  EXPECT_EQ(sim_.shop().sessionCount(), 0);
}

TEST_F(SimPages_, WhileTheCodeIsAskedForTheRightPasswordAloneIsRefused) {
  sim_.shop().setCaptcha(true);
  Page page = browser_->get("/member/login.jhtml");
  Groups message;
  ASSERT_TRUE(matchFirst(gbkPattern(kLoginMessage), page.body, &message)) << "the request stands in the error area";
  EXPECT_TRUE(contains(message[1], "为了您的账号安全，请输入验证码。"));
  EXPECT_NE(page.body.find("name=\"TPL_checkcode\""), std::string::npos);

  const std::string right = "TPL_username=vendara_demo&TPL_password=demo1234";
  page = browser_->post("/member/login.jhtml", right);
  EXPECT_TRUE(contains(page.body, "为了您的账号安全，请输入验证码。"));
  EXPECT_TRUE(page.setCookies.empty());
  page = browser_->post("/member/login.jhtml", right + "&TPL_checkcode=" + sim_.shop().captchaCode());
  EXPECT_FALSE(contains(page.body, "标准登录框"));
  EXPECT_EQ(sim_.shop().sessionCount(), 1);

  // Switched off, the page no longer asks; three failures in a row ask again.
  sim_.shop().setCaptcha(false);
  EXPECT_FALSE(matchFirst(gbkPattern(kLoginMessage), browser_->get("/member/login.jhtml").body, nullptr));
  for (int k = 0; k < SimShop::kCodeAfterFailures; ++k) {
    browser_->post("/member/login.jhtml", "TPL_username=vendara_demo&TPL_password=wrong");
  }
  EXPECT_TRUE(contains(browser_->post("/member/login.jhtml", right).body, "为了您的账号安全，请输入验证码。"));
  EXPECT_EQ(sim_.shop().sessionCount(), 1);
}

TEST_F(SimPages_, AnEmptyAccountGetsTheSitesOwnMessage) {
  Page page = browser_->post("/member/login.jhtml", "TPL_username=&TPL_password=x");
  Groups message;
  ASSERT_TRUE(matchFirst(gbkPattern(kLoginMessage), page.body, &message));
  EXPECT_TRUE(contains(message[1], "请输入账户名。"));
}

TEST_F(SimPages_, SessionCookieOpensSellerPagesUntilTheSessionEnds) {
  Page page = browser_->get("/auction/goods/goods_on_sale.htm?page=1");
  EXPECT_TRUE(contains(page.body, "标准登录框"));
  EXPECT_EQ(page.body.find("class=\"item-pic\""), std::string::npos);

  page = browser_->post("/member/login.jhtml", "TPL_username=vendara_demo&TPL_password=demo1234&longLogin=1");
  EXPECT_FALSE(contains(page.body, "标准登录框"));
  ASSERT_EQ(page.setCookies.size(), 2u) << "the session and the nickname cookie, on two lines";
  EXPECT_EQ(page.setCookies[0].rfind(std::string(MarketSim::kSessionCookie) + "=", 0), 0u);

  page = browser_->get("/auction/goods/goods_on_sale.htm?page=1");
  EXPECT_FALSE(contains(page.body, "标准登录框"));
  EXPECT_NE(page.body.find("class=\"item-pic\""), std::string::npos);

  sim_.shop().endSessions();
  page = browser_->get("/trade/itemlist/list_sold_items.htm?auctionStatus=PAID");
  EXPECT_TRUE(contains(page.body, "标准登录框"));
  EXPECT_TRUE(matchAll(gbkPattern(kDetailLink), page.body).empty());
}

TEST(SimLogin, ChineseAccountNamePostedAsPercentEncodedGbkLogsIn) {
  SimOptions options;
  options.account = gbk("中文卖家");
  MarketSim sim(options);
  sim.start(0);
  Browser browser(sim.port());
  Page page = browser.post("/member/login.jhtml", "TPL_username=%D6%D0%CE%C4%C2%F4%BC%D2&TPL_password=demo1234");
  EXPECT_FALSE(contains(page.body, "标准登录框"));
  EXPECT_EQ(sim.shop().sessionCount(), 1);
  sim.stop();
}

TEST_F(SimPages_, GoodsOnSaleSpreadOverPagesAndEndWithAPageWithoutItems) {
  login();
  std::string itemPattern = gbkPattern(R"~(<A HREF="()~" + quoteMeta(base()) +
                                       R"~(/item\.htm\?id=([0-9]+))" target=_blank title="([^"]+)">\s*<img src="([^"]+)" class="item-pic"/>)~");
  std::vector<SimItem> items = sim_.shop().items();
  ASSERT_EQ(items.size(), 6u);
  std::vector<Groups> seen;
  for (int page = 1; page <= 3; ++page) {
    std::vector<Groups> matches =
        matchAll(itemPattern, browser_->get("/auction/goods/goods_on_sale.htm?page=" + std::to_string(page)).body);
    EXPECT_EQ(matches.size(), page == 1 ? 4u : page == 2 ? 2u : 0u) << "page " << page;
    seen.insert(seen.end(), matches.begin(), matches.end());
  }
  ASSERT_EQ(seen.size(), items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    EXPECT_EQ(seen[k][1], base() + "/item.htm?id=" + items[k].id);
    EXPECT_EQ(seen[k][2], items[k].id);
    EXPECT_EQ(seen[k][3], items[k].title) << "GBK title byte for byte";
    EXPECT_EQ(browser_->get("/item.htm?id=" + items[k].id).status, 200);
  }
}

TEST_F(SimPages_, PaidListLinksEveryPaidOrderToItsDetailPage) {
  login();
  std::string demoPaid = demoOrder(kSimPaid).id;
  SimOrderRequest wanted;
  wanted.buyer = gbk("第二位买家");
  wanted.lines = {{sim_.shop().items()[2].id, 1}};
  SimOrder second = sim_.shop().addOrder(wanted);

  std::string list = browser_->get(kPaidListTarget).body;
  std::vector<Groups> links = matchAll(gbkPattern(kDetailLink), list);
  ASSERT_EQ(links.size(), 3u) << "the help link, then the two paid orders; the completed one is not paid";
  EXPECT_FALSE(matchFirst("bizOrderId=([0-9]+)", links[0][1], nullptr)) << "the help link names no order";
  std::vector<std::string> numbers;
  for (size_t k = 1; k < links.size(); ++k) {
    Groups number;
    ASSERT_TRUE(matchFirst("bizOrderId=([0-9]+)", links[k][1], &number));
    numbers.push_back(number[1]);
    EXPECT_EQ(links[k][1].rfind(base(), 0), 0u);
  }
  EXPECT_EQ(numbers[0], second.id) << "newest first";
  EXPECT_EQ(numbers[1], demoPaid);
}

// The snapshot-link pattern: group 1 the address, group 2 set on the archive
// host, group 3 the trade id, group 4 the title.
std::string snapshotPattern(const std::string& tradeBase, const std::string& archiveBase) {
  return R"~(<a href="((?:)~" + quoteMeta(tradeBase) + "|(" + quoteMeta(archiveBase) +
         R"~())/trade/detail/trade_snap.htm\?trade_id=([0-9]+))" title="([^"]+)")~";
}

TEST_F(SimPages_, DetailPageCarriesStateBuyerPaymentAndGoodsLines) {
  login();
  SimOrder order = demoOrder(kSimCompleted);  // two lines, archive snapshots
  std::string page = browser_->get("/trade/detail/trade_item_detail.htm?bizOrderId=" + order.id).body;

  Groups g;
  ASSERT_TRUE(matchFirst(gbkPattern(R"(当前订单状态：<span class="wait">\s*([^\s<]+)\s*)"), page, &g));
  EXPECT_EQ(g[1], gbk("交易成功"));
  ASSERT_TRUE(matchFirst(gbkPattern(R"(<span class="nickname">([^<]+)</span>)"), page, &g));
  EXPECT_EQ(g[1], order.buyer);
  ASSERT_TRUE(matchFirst(gbkPattern(R"(邮件：<a class="mail" href="[^"]+"><span>([^<]+)</span>)"), page, &g));
  EXPECT_EQ(g[1], order.email);
  ASSERT_TRUE(matchFirst(gbkPattern(R"~(<span class="J_WangWang" data-nick="([^"]+)" data-display="inline">)~"), page, &g));
  EXPECT_EQ(g[1], order.ww);
  ASSERT_TRUE(matchFirst(gbkPattern(R"(<span class="alilay-num">([^<]+)</span>)"), page, &g));
  EXPECT_EQ(g[1], order.alipayId);
  ASSERT_TRUE(matchFirst(gbkPattern(R"(<span class="order-num">([^<]+)</span>)"), page, &g));
  EXPECT_EQ(g[1], order.id);

  // By default archived snapshots are linked on the base address itself, so a
  // client that points the trade and the archive host at one base finds them.
  std::vector<Groups> snaps = matchAll(snapshotPattern(base(), base()), page);
  std::vector<Groups> nums = matchAll(R"(<td class="num">([0-9]+)</td>)", page);
  ASSERT_EQ(snaps.size(), 2u) << "the picture links and the recommended snapshot elsewhere are not goods lines";
  ASSERT_EQ(nums.size(), 3u) << "the lines' quantities, then the order's total quantity";
  EXPECT_EQ(nums[2][1], std::to_string(order.lines[0].num + order.lines[1].num));
  EXPECT_EQ(matchAll(R"(/trade/detail/trade_snap\.htm\?trade_id=([0-9]+))", page).size(), 5u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(snaps[k][3], order.lines[k].snapshotId);
    EXPECT_EQ(snaps[k][4], order.lines[k].title);
    EXPECT_EQ(nums[k][1], std::to_string(order.lines[k].num));
    // The snapshot address is requested as the page holds it.
    std::string snapshot = browser_->get(snaps[k][1].substr(base().size())).body;
    ASSERT_TRUE(matchFirst(R"(item.htm\?(item_)?id=([0-9]+))", snapshot, &g));
    EXPECT_EQ(g[1], "item_") << "an archived snapshot links the item with item_id";
    EXPECT_EQ(g[2], order.lines[k].itemId);
  }

  // With an archive prefix the archive host is told apart by group 2.
  sim_.shop().setArchivePrefix("/archive");
  std::string archivePattern = snapshotPattern(base(), base() + "/archive");
  snaps = matchAll(archivePattern, browser_->get("/trade/detail/trade_item_detail.htm?bizOrderId=" + order.id).body);
  ASSERT_EQ(snaps.size(), 2u);
  EXPECT_EQ(snaps[1][2], base() + "/archive");
  ASSERT_TRUE(matchFirst(R"(item.htm\?(item_)?id=([0-9]+))", browser_->get(snaps[1][1].substr(base().size())).body, &g));
  EXPECT_EQ(g[2], order.lines[1].itemId);

  // The paid demo order lives on the trade host: no archive group, id=.
  SimOrder paid = demoOrder(kSimPaid);
  page = browser_->get("/trade/detail/trade_item_detail.htm?bizOrderId=" + paid.id).body;
  snaps = matchAll(archivePattern, page);
  ASSERT_EQ(snaps.size(), 1u);
  EXPECT_EQ(snaps[0][2], "");
  ASSERT_TRUE(matchFirst(R"(item.htm\?(item_)?id=([0-9]+))", browser_->get(snaps[0][1].substr(base().size())).body, &g));
  EXPECT_EQ(g[1], "");
  EXPECT_EQ(g[2], paid.lines[0].itemId);
  ASSERT_TRUE(matchFirst(gbkPattern(R"(当前订单状态：<span class="wait">\s*([^\s<]+)\s*)"), page, &g));
  EXPECT_EQ(g[1], gbk("买家已付款，等待卖家发货"));
}

TEST_F(SimPages_, SoldItemsAnswerOnlyTheClientsTwoQueriesByteForByte) {
  login();
  SimOrder paid = demoOrder(kSimPaid);
  SimOrder done = demoOrder(kSimCompleted);
  auto listed = [&](const std::string& target) {
    std::vector<std::string> numbers;
    for (const Groups& link : matchAll(gbkPattern(kDetailLink), browser_->get(target).body)) {
      Groups number;
      if (matchFirst("bizOrderId=([0-9]+)", link[1], &number)) numbers.push_back(number[1]);
    }
    return numbers;
  };
  EXPECT_EQ(listed(kPaidListTarget), std::vector<std::string>{paid.id});
  EXPECT_EQ(listed(kUnratedListTarget), std::vector<std::string>{done.id});

  std::string unescaped = kPaidListTarget;
  unescaped.replace(unescaped.find("%2F"), 3, "/");
  std::string reordered = kPaidListTarget;
  reordered.replace(reordered.find("&user_type=1"), 12, "");
  reordered.insert(reordered.find('?') + 1, "user_type=1&");
  std::string lowerCase = kPaidListTarget;
  lowerCase.replace(lowerCase.find("%2F"), 3, "%2f");
  const std::vector<std::string> others = {"/trade/itemlist/list_sold_items.htm?auctionStatus=PAID",
                                           "/trade/itemlist/list_sold_items.htm",
                                           unescaped,
                                           reordered,
                                           lowerCase,
                                           kPaidListTarget + "&pageNum=2",
                                           kPaidListTarget + "&"};
  for (const std::string& target : others) EXPECT_TRUE(listed(target).empty()) << target;
}

TEST_F(SimPages_, SnapshotsLinkTheShopBeforeTheItem) {
  login();
  SimOrder paid = demoOrder(kSimPaid);
  std::string page = browser_->get("/trade/detail/trade_snap.htm?trade_id=" + paid.lines[0].snapshotId).body;
  Groups loose;
  ASSERT_TRUE(matchFirst("id=([0-9]+)", page, &loose));
  EXPECT_NE(loose[1], paid.lines[0].itemId) << "a pattern without the item page's name is led astray";
  Groups g;
  ASSERT_TRUE(matchFirst(R"(item.htm\?(item_)?id=([0-9]+))", page, &g));
  EXPECT_EQ(g[2], paid.lines[0].itemId);
}

TEST_F(SimPages_, EveryOrderStateShowsItsText) {
  login();
  SimOrder order = demoOrder(kSimPaid);
  const std::pair<int, const char*> states[] = {{kSimWaitingPayment, "宝贝已买下，等待付款。"},
                                                {kSimShipped, "卖家已发货，等待买家确认"},
                                                {kSimClosed, "交易关闭"}};
  for (const auto& [state, text] : states) {
    ASSERT_TRUE(sim_.shop().setOrderState(order.id, state));
    Groups g;
    ASSERT_TRUE(matchFirst(gbkPattern(R"(当前订单状态：<span class="wait">\s*([^\s<]+)\s*)"),
                           browser_->get("/trade/detail/trade_item_detail.htm?bizOrderId=" + order.id).body, &g));
    EXPECT_EQ(g[1], gbk(text));
  }
}

}  // namespace
}  // namespace Quorvel
