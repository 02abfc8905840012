#include "sim/MarketSim.h"

#include <httplib.h>

#include <chrono>

#include "base/Charset.h"
#include "base/Exception.h"
#include "sim/SimControl.h"
#include "sim/SimForm.h"
#include "sim/SimPages.h"

namespace Quorvel {

namespace {

const char* const kHtml = "text/html;charset=gbk";
const char* const kLoginPath = "/member/login.jhtml";
const char* const kJumpPath = "/member/jump.htm";
const char* const kConsignOldPath = "/user/consign.htm";
const char* const kConsignPath = "/logistics/consign/online_consign.htm";
const size_t kMaxBody = 1 << 20;

// A 1x1 transparent GIF for every item picture and banner.
const unsigned char kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF,
                              0xFF, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C,
                              0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

void sendPage(httplib::Response& res, const std::string& page, int status = 200) {
  res.status = status;
  res.set_content(page, kHtml);
}

void redirect(httplib::Response& res, const std::string& location, const SimPages& pages) {
  res.status = 302;
  res.set_header("Location", location);
  res.set_content(pages.notice(gbk("页面跳转"), gbk("页面已移动，正在跳转……")), kHtml);
}

// Host names and ports only: anything else in a Host header is not echoed.
bool plainHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
              c == ':' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

std::string cookieValue(const std::string& header, const std::string& name) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::string piece = header.substr(pos, end - pos);
    size_t start = piece.find_first_not_of(' ');
    if (start != std::string::npos) piece = piece.substr(start);
    if (piece.compare(0, name.size() + 1, name + "=") == 0) return piece.substr(name.size() + 1);
    pos = end + 1;
  }
  return {};
}

int pageNumber(const std::string& text) {
  if (!simIsDigits(text) || text.size() > 6) return 1;
  int page = std::stoi(text);
  return page < 1 ? 1 : page;
}

void serveLogin(SimShop& shop, const SimPages& pages, const httplib::Request& req, httplib::Response& res,
                const std::string& body) {
  const std::string askCode = gbk("为了您的账号安全，请输入验证码。");
  if (req.method != "POST") {
    bool codeNeeded = shop.codeNeeded();
    sendPage(res, pages.login(codeNeeded ? askCode : "", "", codeNeeded));
    return;
  }
  SimFields fields = simParseFields(body);
  std::string account = simField(fields, "TPL_username");
  if (account.empty()) {
    bool codeNeeded = shop.codeNeeded();
    sendPage(res, pages.login(gbk("请输入账户名。"), "", codeNeeded));
    return;
  }
  SimLoginResult result = shop.login(account, simField(fields, "TPL_password"), simField(fields, "TPL_checkcode"));
  if (!result.ok) {
    std::string message = result.codeNeeded ? askCode : gbk("您输入的密码和账户名不匹配，请重新输入。");
    sendPage(res, pages.login(message, account, result.codeNeeded));
    return;
  }
  res.set_header("Set-Cookie", std::string(MarketSim::kSessionCookie) + "=" + result.token + "; Path=/; HttpOnly");
  res.set_header("Set-Cookie", "_nk_=" + simPercentEncode(account) + "; Path=/");
  sendPage(res, pages.loginDone(account));
}

void serveGoods(SimShop& shop, const SimPages& pages, const SimFields& query, httplib::Response& res) {
  std::vector<SimItem> items = shop.items();
  int size = shop.goodsPageSize();
  int pageCount = std::max<int>(1, (static_cast<int>(items.size()) + size - 1) / size);
  int page = pageNumber(simField(query, "page"));
  std::vector<SimItem> shown;
  size_t first = static_cast<size_t>(page - 1) * size;
  for (size_t k = first; k < items.size() && k < first + size; ++k) shown.push_back(items[k]);
  sendPage(res, pages.goodsOnSale(shown, page, pageCount));
}

// Only the client's two queries list orders, and only their first page: a
// query that differs in one byte gets the empty list the site shows for a
// search without results.
void serveSoldItems(SimShop& shop, const SimPages& pages, const std::string& target, httplib::Response& res) {
  const size_t perPage = 20;
  size_t mark = target.find('?');
  const std::string query = mark == std::string::npos ? std::string() : target.substr(mark + 1);
  const bool paid = query == MarketSim::kPaidOrdersQuery;
  const bool unrated = query == MarketSim::kUnratedOrdersQuery;
  std::vector<SimOrder> shown;
  for (const SimOrder& order : shop.orders()) {
    if (shown.size() == perPage) break;
    bool listed = (paid && order.state == kSimPaid) ||
                  (unrated && !order.rated && (order.state == kSimShipped || order.state == kSimCompleted));
    if (listed) shown.push_back(order);
  }
  sendPage(res, pages.soldItems(shown, unrated));
}

// The most bytes the site keeps of a consignment note.
constexpr size_t kMaxNoteBytes = 128;

// True when the POST shipped the order.
bool serveConsign(SimShop& shop, const SimPages& pages, const httplib::Request& req, httplib::Response& res,
                  const SimFields& query, const std::string& body) {
  std::optional<SimOrder> order = shop.order(simField(query, "trade_id"));
  if (!order) {
    sendPage(res, pages.notice(gbk("发货"), gbk("订单不存在。")));
    return false;
  }
  const SimFaults faults = shop.faults();
  if (req.method != "POST") {
    if (order->state != kSimPaid) {
      sendPage(res, pages.notice(gbk("发货"), gbk("该订单当前状态不能发货：") + SimPages::stateText(order->state)));
    } else {
      const int variant = shop.consignVariant();
      const std::string dummy = shop.consignDummy().value_or(variant == 1 ? "" : "1");
      sendPage(res, pages.consign(*order, variant, dummy, !faults.bareConsignForm));
    }
    return false;
  }
  SimFields fields = simParseFields(body);
  // The fields a virtual-goods consignment must carry, empty.
  bool overrides = true;
  for (const char* name : {"_fmw.f._0.fe", "_fmw.f._0.fet", "mailNo"}) {
    overrides = overrides && fields.count(name) != 0 && fields[name].empty();
  }
  const std::string note = simField(fields, "_fmw.n._0.g");
  if (simField(fields, "_tb_token_") != shop.formToken()) {
    sendPage(res, pages.notice(gbk("发货"), gbk("页面已过期，请重新打开发货页面。")));
  } else if (simField(fields, "bizOrderId") != order->id || simField(fields, "action") != "user/consign_action" ||
             simField(fields, "event_submit_do_dummy").empty() || !overrides) {
    sendPage(res, pages.notice(gbk("发货"), gbk("发货失败：提交的信息不完整。")));
  } else if (note.size() > kMaxNoteBytes) {
    sendPage(res, pages.notice(gbk("发货"), gbk("发货失败：备注不能超过128个字节。")));
  } else if (faults.refuseConsign) {
    sendPage(res, pages.notice(gbk("发货"), gbk("发货失败：系统繁忙，请稍后再试。")));
  } else if (!shop.consign(order->id, note, req.target, fields)) {
    sendPage(res, pages.notice(gbk("发货"), gbk("该订单当前状态不能发货。")));
  } else {
    sendPage(res, pages.consignDone(*order));
    return true;
  }
  return false;
}

void serveMemo(SimShop& shop, const SimPages& pages, const httplib::Request& req, httplib::Response& res,
               const SimFields& query, const std::string& body) {
  std::optional<SimOrder> order = shop.order(simField(query, "biz_order_id"));
  if (!order) {
    sendPage(res, pages.notice(gbk("编辑备忘"), gbk("订单不存在。")));
    return;
  }
  const bool withForm = !shop.faults().dropMemoForm;
  if (req.method != "POST") {
    sendPage(res, pages.memo(*order, withForm));
    return;
  }
  SimFields fields = simParseFields(body);
  std::string flag = simField(fields, "flag");
  if (!withForm || simField(fields, "_tb_token_") != shop.formToken() ||
      simField(fields, "biz_order_id") != order->id) {
    sendPage(res, pages.notice(gbk("编辑备忘"), gbk("页面已过期，请重新打开备忘页面。")));
  } else if (simField(fields, "event_submit_do_update") != "1" || fields.count("memo") == 0) {
    sendPage(res, pages.notice(gbk("编辑备忘"), gbk("备忘修改失败：提交的信息不完整。")));
  } else if (flag.size() != 1 || flag[0] < '0' || flag[0] > '5') {
    sendPage(res, pages.notice(gbk("编辑备忘"), gbk("请选择旗帜颜色。")));
  } else {
    shop.writeMemo(order->id, flag, simField(fields, "memo"));
    sendPage(res, pages.notice(gbk("编辑备忘"), gbk("备忘修改成功。")));
  }
}

void serveRateForm(SimShop& shop, const SimPages& pages, const SimFields& query, httplib::Response& res) {
  std::optional<SimOrder> order = shop.order(simField(query, "tradeID"));
  if (!order || order->rated || (order->state != kSimShipped && order->state != kSimCompleted)) {
    sendPage(res, pages.notice(gbk("评价买家"), gbk("该交易当前不能评价。")));
  } else {
    sendPage(res, pages.rate(*order));
  }
}

void serveRateSubmit(SimShop& shop, const SimPages& pages, httplib::Response& res, const std::string& body) {
  SimFields fields = simParseFields(body);
  if (simField(fields, "_tb_token_") != shop.formToken()) {
    sendPage(res, pages.notice(gbk("评价买家"), gbk("页面已过期，请重新打开评价页面。")));
    return;
  }
  int rated = 0;
  int refused = 0;
  // Each rating form is one trade's: its hidden "tradeID" names the trade
  // the rating fields carry in their names.
  const std::string formTrade = simField(fields, "tradeID");
  for (const auto& [name, value] : fields) {
    if (name.compare(0, 5, "rates") != 0 || !simIsDigits(name.substr(5))) continue;
    std::string tradeId = name.substr(5);
    if (tradeId != formTrade || fields.count("rateContents" + tradeId) == 0) {
      ++refused;
      continue;
    }
    bool known = value == "1" || value == "0" || value == "-1";
    if (known && shop.rate(tradeId, value, simField(fields, "rateContents" + tradeId))) {
      ++rated;
    } else {
      ++refused;
    }
  }
  if (rated > 0 && refused == 0) {
    sendPage(res, pages.notice(gbk("评价买家"), gbk("评价成功！")));
  } else {
    sendPage(res, pages.notice(gbk("评价买家"), gbk("评价失败：该交易不能评价。")));
  }
}

// Replaces the answer with one whose header promises a body that never
// comes: the connection closes after the header, and the client has no
// answer it can use.
void dropAnswer(httplib::Response& res) {
  res.body.clear();
  res.set_content_provider(
      1, kHtml, [](size_t, size_t, httplib::DataSink&) { return false; }, nullptr);
}

void serveStatic(const std::string& path, httplib::Response& res) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".css") == 0) {
    res.set_content("body{font:12px/1.5 Tahoma,sans-serif;margin:0}#page{width:950px;margin:0 auto}"
                    ".item-pic{width:80px;height:80px}.msg-box{padding:20px;border:1px solid #ccc}\n",
                    "text/css;charset=gbk");
  } else if (path.size() > 3 && path.compare(path.size() - 3, 3, ".js") == 0) {
    res.set_content("/* seller pages */\nvar SELLER = SELLER || {};\n", "application/x-javascript;charset=gbk");
  } else {
    res.set_content(std::string(reinterpret_cast<const char*>(kGif), sizeof kGif), "image/gif");
  }
}

}  // namespace

MarketSim::MarketSim(SimOptions options) : shop_(options.account, options.password) {
  shop_.setOpen(options.open);
  if (options.demoShop) shop_.addDemoShop();
}

MarketSim::~MarketSim() { stop(); }

std::string MarketSim::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void MarketSim::start(int port) {
  if (server_) throw Exception("market-sim already runs", 1);
  {
    MutexLock lock(stopMutex_);
    stopping_ = false;
  }
  auto server = std::make_unique<httplib::Server>();
  // One request per connection, as the marketplace client makes them; an idle
  // connection cannot hold a worker (and stop) for long.
  server->set_keep_alive_max_count(1);
  server->set_keep_alive_timeout(1);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // simulator share a port already taken instead of failing to start.
  server->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, ""); });
  // The body is read here rather than by the library, which refuses form
  // bodies above 8 KB (a long delivery text in the memo).
  server->Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader) {
    std::string body;
    bool tooLarge = false;
    reader([&](const char* data, size_t length) {
      if (body.size() + length > kMaxBody) {
        tooLarge = true;
        return false;
      }
      body.append(data, length);
      return true;
    });
    if (tooLarge) {
      res.status = 413;
      return;
    }
    handle(req, res, body);
  });
  if (port == 0) {
    port_ = server->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw Exception("market-sim cannot listen on 127.0.0.1", 1);
  } else {
    if (!server->bind_to_port("127.0.0.1", port)) {
      throw Exception("market-sim cannot listen on 127.0.0.1:" + std::to_string(port), 1);
    }
    port_ = port;
  }
  server_ = std::move(server);
  listenerDone_ = false;
  listener_ = std::thread([this] {
    server_->listen_after_bind();
    listenerDone_ = true;
  });
  // The library's stop does nothing before its accept loop runs: wait for it.
  while (!server_->is_running() && !listenerDone_) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void MarketSim::stop() {
  if (!server_) return;
  {
    MutexLock lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  server_->stop();  // start waited for the accept loop, so this ends it
  listener_.join();
  server_.reset();
}

bool MarketSim::pause(int millis) {
  MutexLock lock(stopMutex_);
  ++held_;
  bool stopped = stopSignal_.wait_for(stopMutex_, std::chrono::milliseconds(millis), [this]() REQUIRES(stopMutex_) { return stopping_; });
  --held_;
  return !stopped;
}

bool MarketSim::loggedIn(const httplib::Request& req) const {
  return shop_.open() || shop_.hasSession(cookieValue(req.get_header_value("Cookie"), kSessionCookie));
}

void MarketSim::handle(const httplib::Request& req, httplib::Response& res, const std::string& body) {
  std::string host = req.get_header_value("Host");
  std::string base = "http://" + (plainHost(host) ? host : "127.0.0.1:" + std::to_string(port_));
  try {
    if (req.path.rfind(SimControl::kPrefix, 0) == 0) {
      SimControl::Answer answer = SimControl(shop_, base).handle(req.method, req.path, body);
      res.status = answer.status;
      res.set_content(answer.json, "application/json;charset=utf-8");
      return;
    }
    SimFaults faults = shop_.faults();
    if (faults.slowMillis > 0 && !pause(faults.slowMillis)) return;
    if (faults.emptyAnswers) {
      res.status = 200;
      res.set_content("", kHtml);
      return;
    }
    serveSite(req, res, body, base);
  } catch (Exception e) {
    res.status = 500;
    res.set_content(e.message(), "text/plain;charset=gbk");
  }
}

void MarketSim::serveSite(const httplib::Request& req, httplib::Response& res, const std::string& body,
                          const std::string& base) {
  SimPages pages(base, shop_.formToken(), shop_.archivePrefix());
  SimFaults faults = shop_.faults();
  const std::string& path = req.path;
  SimFields query = simQueryFields(req.target);

  if (path == kJumpPath) {
    std::string to = simField(query, "to");
    redirect(res, base + (to.empty() || to[0] != '/' ? std::string("/") : to), pages);
    return;
  }
  if (faults.redirectLoop) {
    redirect(res, base + kJumpPath + "?to=" + simPercentEncode(req.target), pages);
    return;
  }
  if (faults.loginEverywhere) {
    sendPage(res, pages.login("", ""));
    return;
  }

  // Pages anyone may see.
  if (path == kLoginPath) return serveLogin(shop_, pages, req, res, body);
  if (path == "/trade/detail/trade_snap.htm" || path == shop_.archivePrefix() + "/trade/detail/trade_snap.htm" ||
      path == "/archive/trade/detail/trade_snap.htm") {
    auto found = shop_.orderOfSnapshot(simField(query, "trade_id"));
    if (!found) return sendPage(res, pages.notice(gbk("交易快照"), gbk("该快照不存在。")));
    return sendPage(res, pages.snapshot(found->first, found->second));
  }
  if (path == "/item.htm") {
    std::string id = simField(query, "id").empty() ? simField(query, "item_id") : simField(query, "id");
    std::optional<SimItem> item = shop_.item(id);
    if (!item) return sendPage(res, pages.notice(gbk("宝贝详情"), gbk("很抱歉，您查看的宝贝不存在，可能已下架或者被转移。")), 404);
    return sendPage(res, pages.itemPage(*item));
  }
  if (path == "/webww/" || path == "/webww") {
    shop_.openChat(simField(query, "touid"));
    return sendPage(res, pages.webIm(simField(query, "touid")));
  }
  if (path.rfind("/img/", 0) == 0 || path.rfind("/css/", 0) == 0 || path.rfind("/js/", 0) == 0) {
    return serveStatic(path, res);
  }

  // Seller pages.
  bool sellerPage = path == "/auction/goods/goods_on_sale.htm" || path == "/trade/itemlist/list_sold_items.htm" ||
                    path == "/trade/detail/trade_item_detail.htm" || path == kConsignOldPath ||
                    path == kConsignPath || path == "/trade/memo/update_sell_memo.htm" ||
                    path == "/remark_buyer.jhtml" || path == "/remarkBuyer.htm" || path == "/";
  if (!sellerPage) {
    return sendPage(res, pages.notice(gbk("页面不存在"), gbk("很抱歉，您要访问的页面不存在。")), 404);
  }
  if (!loggedIn(req)) return sendPage(res, pages.login("", ""));
  shop_.sellerPageServed();

  if (path == "/") return redirect(res, base + "/trade/itemlist/list_sold_items.htm", pages);
  if (path == "/auction/goods/goods_on_sale.htm") return serveGoods(shop_, pages, query, res);
  if (path == "/trade/itemlist/list_sold_items.htm") return serveSoldItems(shop_, pages, req.target, res);
  if (path == "/trade/detail/trade_item_detail.htm") {
    std::optional<SimOrder> order = shop_.order(simField(query, "bizOrderId"));
    if (!order) return sendPage(res, pages.notice(gbk("交易详情"), gbk("订单不存在。")));
    return sendPage(res, pages.orderDetail(*order));
  }
  if (path == kConsignOldPath) {
    // The consign page has moved: reading it redirects, posting to the old
    // address is refused like a stale bookmark.
    if (req.method == "POST") return sendPage(res, pages.notice(gbk("发货"), gbk("该页面已迁移，请重新打开发货页面。")));
    return redirect(res, base + kConsignPath + "?trade_id=" + simPercentEncode(simField(query, "trade_id")), pages);
  }
  if (path == kConsignPath) {
    const bool shipped = serveConsign(shop_, pages, req, res, query, body);
    if (shipped && faults.consignAnswerDelayMillis > 0 && !pause(faults.consignAnswerDelayMillis)) return;
  } else if (path == "/trade/memo/update_sell_memo.htm") {
    serveMemo(shop_, pages, req, res, query, body);
  } else if (path == "/remark_buyer.jhtml") {
    serveRateForm(shop_, pages, query, res);
  } else if (path == "/remarkBuyer.htm") {
    if (req.method != "POST") return redirect(res, base + "/trade/itemlist/list_sold_items.htm", pages);
    serveRateSubmit(shop_, pages, res, body);
  }
  if (req.method == "POST" && faults.dropPostAnswers) dropAnswer(res);
}

}  // namespace Quorvel
