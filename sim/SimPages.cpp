#include "sim/SimPages.h"

#include <ctime>

#include "base/Charset.h"
#include "base/Exception.h"
#include "sim/SimForm.h"

namespace Quorvel {

namespace {

std::string esc(const std::string& text) { return simHtmlEscape(text); }

std::string dealTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string lineTotal(const SimLine& line) {
  // Prices are "yuan.fen" texts; the total is computed in fen.
  long fen = 0;
  size_t dot = line.price.find('.');
  try {
    fen = std::stol(line.price.substr(0, dot)) * 100;
    if (dot != std::string::npos) {
      std::string f = (line.price.substr(dot + 1) + "00").substr(0, 2);
      fen += std::stol(f);
    }
  } catch (const std::exception&) {
    fen = 0;
  }
  fen *= line.num;
  char text[32];
  std::snprintf(text, sizeof text, "%ld.%02ld", fen / 100, fen % 100);
  return text;
}

std::string orderTotal(const SimOrder& order) {
  long fen = 0;
  for (const SimLine& line : order.lines) {
    std::string total = lineTotal(line);
    size_t dot = total.find('.');
    fen += std::stol(total.substr(0, dot)) * 100 + std::stol(total.substr(dot + 1));
  }
  char text[32];
  std::snprintf(text, sizeof text, "%ld.%02ld", fen / 100, fen % 100);
  return text;
}

}  // namespace

std::string simFill(const std::string& utf8Template, const std::vector<std::string>& gbkValues) {
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t open = utf8Template.find("{{", pos);
    size_t close = open == std::string::npos ? std::string::npos : utf8Template.find("}}", open + 2);
    if (close == std::string::npos) {
      out += gbk(utf8Template.substr(pos));
      return out;
    }
    out += gbk(utf8Template.substr(pos, open - pos));
    std::string index = utf8Template.substr(open + 2, close - open - 2);
    if (!simIsDigits(index) || std::stoul(index) >= gbkValues.size()) {
      throw Exception("page template refers to a missing value: " + index, 1);
    }
    out += gbkValues[std::stoul(index)];
    pos = close + 2;
  }
}

SimPages::SimPages(std::string base, std::string formToken, std::string archivePrefix)
    : base_(std::move(base)), token_(std::move(formToken)), archivePrefix_(std::move(archivePrefix)) {}

std::string SimPages::stateText(int state) {
  switch (state) {
    case kSimWaitingPayment: return gbk("宝贝已买下，等待付款。");
    case kSimPaid: return gbk("买家已付款，等待卖家发货");
    case kSimShipped: return gbk("卖家已发货，等待买家确认");
    case kSimCompleted: return gbk("交易成功");
    case kSimClosed: return gbk("交易关闭");
    default: return gbk("未知状态");
  }
}

std::string SimPages::layout(const std::string& title, const std::string& body) const {
  return simFill(R"(<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd">
<html xmlns="http://www.w3.org/1999/xhtml">
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gbk" />
<title>{{1}} - 卖家中心</title>
<link rel="stylesheet" type="text/css" href="{{0}}/css/seller.css" />
<script type="text/javascript" src="{{0}}/js/seller.js"></script>
</head>
<body>
<div id="site-nav">
  <p class="login-info">您好，欢迎来到集市网！ <a href="{{0}}/member/login.jhtml">请登录</a> <a href="{{0}}/member/reg.htm">免费注册</a></p>
  <ul class="quick-menu">
    <li><a href="{{0}}/trade/itemlist/list_sold_items.htm">已卖出的宝贝</a></li>
    <li><a href="{{0}}/auction/goods/goods_on_sale.htm">出售中的宝贝</a></li>
    <li><a href="{{0}}/help.htm">帮助中心</a></li>
  </ul>
</div>
<div id="page">
<div id="header"><a class="logo" href="{{0}}/">集市网</a> <span class="channel">卖家中心</span></div>
<div id="content">
{{2}}
</div>
<div id="footer">
  <p><a href="{{0}}/about.htm">关于我们</a> | <a href="{{0}}/help.htm">帮助中心</a> | <a href="{{0}}/rule.htm">规则</a></p>
  <p>版权所有 2003-2012</p>
</div>
</div>
</body>
</html>
)",
                 {base_, title, body});
}

std::string SimPages::login(const std::string& message, const std::string& account, bool askCode) const {
  // The error area exists only when there is something to say; its message
  // sits in a paragraph of its own, with the site's usual loose markup.
  std::string messageBlock;
  if (!message.empty()) {
    messageBlock = simFill("<div id=\"J_Message\"  class=\"login-msg msg\">\n"
                           "\t\t<p class=\"error\"  id=\"J_MsgText\" >\n"
                           "\t\t\t{{0}}\n"
                           "\t\t</p>\n"
                           "\t</div>\n",
                           {esc(message)});
  }
  std::string codeBlock;
  if (askCode) {
    codeBlock = simFill(R"(<div class="field field-checkcode" id="J_CheckCodeField">
  <label for="J_CodeInput">验证码：</label>
  <input type="text" name="TPL_checkcode" id="J_CodeInput" class="login-text checkcode" value="" maxlength="4" autocomplete="off" tabindex="3" />
  <img id="J_CheckCodeImg" src="{{0}}/img/checkcode.gif" alt="看不清？换一张" width="100" height="30" />
</div>
)",
                        {base_});
  }
  return simFill(R"(<!DOCTYPE html>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gbk" />
<title>会员登录 - 集市网</title>
<link rel="stylesheet" type="text/css" href="{{0}}/css/login.css" />
<script type="text/javascript">
if(window.top !== window.self){ window.top.location.href = window.self.location.href; }
</script>
</head>
<body>
<div id="page">
<div id="header"><a class="logo" href="{{0}}/">集市网</a> <span class="title">会员登录</span></div>
<div id="content">
<div class="login-banner"><img src="{{0}}/img/banner.gif" alt="" /></div>
<!--标准登录框-->
<div class="login-panel" id="J_LoginPanel">
<h2>账户密码登录</h2>
<form id="J_StaticForm" action="{{0}}/member/login.jhtml" method="post"  autocomplete="off">
	{{1}}
	<input type="hidden" name="loginsite" value="0" />
<!--登录的错误信息结束-->
<div class="field">
<label for="TPL_username_1">账户名：</label>
<input type="text" name="TPL_username" id="TPL_username_1" class="login-text" value="{{2}}" maxlength="32" tabindex="1" />
</div>
<div class="field">
<label for="TPL_password_1">登录密码：</label>
<input type="password" name="TPL_password" id="TPL_password_1" class="login-text" value="" maxlength="20" tabindex="2" />
</div>
{{3}}<div class="safe">
<input type="checkbox" id="J_LongLogin" name="longLogin" value="1" tabindex="4" /><label for="J_LongLogin">两周内自动登录</label>
</div>
<input type="hidden" name="TPL_redirect_url" value="{{0}}/trade/itemlist/list_sold_items.htm" />
<input type="hidden" name="from" value="seller" />
<div class="submit"><button type="submit" class="J_Submit" id="J_SubmitStatic" tabindex="5">登 录</button></div>
</form>
<div class="login-links"><a href="{{0}}/member/find_password.htm">忘记登录密码？</a> <a href="{{0}}/member/reg.htm">免费注册</a> <a href="{{0}}/member/login.jhtml?style=mini&amp;full_redirect=true">切换到快速登录</a></div>
</div>
<!--标准登录框结束-->
</div>
<div id="footer"><p>版权所有 2003-2012</p></div>
</div>
</body>
</html>
)",
                 {base_, messageBlock, esc(account), codeBlock});
}

std::string SimPages::loginDone(const std::string& account) const {
  return layout(gbk("登录成功"), simFill(R"(<div class="msg-box ok">
<h3>{{1}}，您已成功登录。</h3>
<p>正在进入 <a href="{{0}}/trade/itemlist/list_sold_items.htm">已卖出的宝贝</a>……</p>
</div>
<script type="text/javascript">setTimeout(function(){ window.location.href = "{{0}}/trade/itemlist/list_sold_items.htm"; }, 1500);</script>)",
                                         {base_, esc(account)}));
}

std::string SimPages::goodsOnSale(const std::vector<SimItem>& items, int page, int pageCount) const {
  std::string rows;
  for (const SimItem& item : items) {
    std::string picture = item.picture.empty() ? base_ + "/img/item/" + item.id + ".gif" : item.picture;
    rows += simFill(R"(<tr class="item" id="item{{1}}">
  <td class="selector"><input type="checkbox" name="selectedIds" value="{{1}}" /></td>
  <td class="pic"><A HREF="{{0}}/item.htm?id={{1}}" target=_blank title="{{2}}">
            <img src="{{3}}" class="item-pic"/></A></td>
  <td class="desc"><a href="{{0}}/item.htm?id={{1}}" target="_blank">{{2}}</a><br /><span class="outer-id">宝贝编号：{{1}}</span></td>
  <td class="price">{{4}}</td>
  <td class="qty">999</td>
  <td class="ops"><a href="{{0}}/auction/publish/edit.htm?item_num_id={{1}}">编辑宝贝</a></td>
</tr>
)",
                    {base_, item.id, esc(item.title), esc(picture), esc(item.price)});
  }
  if (rows.empty()) {
    rows = gbk("<tr class=\"no-result\"><td colspan=\"6\">没有找到符合条件的宝贝。</td></tr>\n");
  }
  std::string pager;
  for (int p = 1; p <= pageCount; ++p) {
    if (p == page) {
      pager += "<span class=\"page-cur\">" + std::to_string(p) + "</span> ";
    } else {
      pager += "<a href=\"" + base_ + "/auction/goods/goods_on_sale.htm?page=" + std::to_string(p) + "\">" +
               std::to_string(p) + "</a> ";
    }
  }
  return layout(gbk("出售中的宝贝"), simFill(R"(<h2 class="title">出售中的宝贝</h2>
<form id="J_SearchForm" action="{{0}}/auction/goods/goods_on_sale.htm" method="get">
宝贝名称：<input type="text" name="searchKeyword" value="" /> <button type="submit">搜索</button>
</form>
<table class="goods-list">
<thead><tr><th></th><th>宝贝图片</th><th>宝贝名称</th><th>价格</th><th>库存</th><th>操作</th></tr></thead>
<tbody>
{{1}}</tbody>
</table>
<div class="pagination">共{{2}}页 {{3}}</div>)",
                                             {base_, rows, std::to_string(pageCount), pager}));
}

std::string SimPages::itemPage(const SimItem& item) const {
  return layout(esc(item.title), simFill(R"(<div class="item-detail">
<img src="{{0}}/img/item/{{1}}.gif" alt="" class="main-pic" />
<h3>{{2}}</h3>
<p class="price">一口价：<em>{{3}}</em> 元</p>
<p class="delivery">虚拟物品，付款后自动发货</p>
</div>)",
                                         {base_, item.id, esc(item.title), esc(item.price)}));
}

std::string SimPages::lineRows(const SimOrder& order, bool withSnapshots) const {
  std::string rows;
  for (const SimLine& line : order.lines) {
    std::string host = order.archive ? base_ + archivePrefix_ : base_;
    // The picture links the snapshot too, without a title: only the title
    // link names the goods line.
    std::string link = withSnapshots ? simFill(R"(<a href="{{0}}/trade/detail/trade_snap.htm?trade_id={{1}}" target="_blank"><img src="{{3}}/img/item/{{4}}.gif" class="item-pic" /></a>
    <a href="{{0}}/trade/detail/trade_snap.htm?trade_id={{1}}" title="{{2}}" target="_blank">{{2}}</a>)",
                                               {host, line.snapshotId, esc(line.title), base_, line.itemId})
                                     : simFill(R"(<a href="{{0}}/item.htm?id={{1}}" target="_blank">{{2}}</a>)",
                                               {base_, line.itemId, esc(line.title)});
    rows += simFill(R"(<tr class="order-item">
  <td class="item">{{0}}<br /><span class="props">类型：虚拟卡密</span></td>
  <td class="price">{{1}}</td>
  <td class="num">{{2}}</td>
  <td class="total">{{3}}</td>
</tr>
)",
                    {link, esc(line.price), std::to_string(line.num), lineTotal(line)});
  }
  return rows;
}

std::string SimPages::soldItems(const std::vector<SimOrder>& orders, bool unratedView) const {
  std::string blocks;
  for (const SimOrder& order : orders) {
    std::string actions;
    if (order.state == kSimPaid) {
      actions += simFill(R"(<a href="{{0}}/user/consign.htm?trade_id={{1}}" class="consign-link">发货</a><br />)",
                         {base_, order.id});
    }
    if (!order.rated && (order.state == kSimShipped || order.state == kSimCompleted)) {
      actions += simFill(R"(<a href="{{0}}/remark_buyer.jhtml?tradeID={{1}}" target="_blank">评价</a><br />)",
                         {base_, order.id});
    }
    blocks += simFill(R"(<tbody class="order" id="order{{1}}">
<tr class="sep-row"><td colspan="5"></td></tr>
<tr class="order-hd"><td colspan="5"><span class="no">订单编号：{{1}}</span> <span class="deal-time">成交时间：{{2}}</span></td></tr>
<tr class="order-bd">
  <td class="lines"><table>
{{3}}  </table></td>
  <td class="buyer"><span class="nick">{{4}}</span></td>
  <td class="state"><span class="trade-status">{{5}}</span><br /><a href="{{0}}/trade/detail/trade_item_detail.htm?bizOrderId={{1}}" class="detail-link" target="_blank">详情</a></td>
  <td class="ops">{{6}}<a href="{{0}}/trade/memo/update_sell_memo.htm?user_type=1&biz_order_id={{1}}" target="_blank">备忘</a></td>
</tr>
</tbody>
)",
                      {base_, order.id, dealTime(order.created), lineRows(order, false), esc(order.buyer),
                       stateText(order.state), actions});
  }
  if (orders.empty()) {
    blocks = gbk("<tbody><tr class=\"no-result\"><td colspan=\"5\">没有符合条件的宝贝，请尝试其他搜索条件。</td></tr></tbody>\n");
  }
  return layout(gbk("已卖出的宝贝"), simFill(R"(<h2 class="title">已卖出的宝贝</h2>
<ul class="tabs">
  <li><a href="{{0}}/trade/itemlist/list_sold_items.htm?auctionStatus=ALL">所有订单</a></li>
  <li><a href="{{0}}/trade/itemlist/list_sold_items.htm?auctionStatus=PAID">等待发货</a></li>
  <li class="{{2}}"><a href="{{0}}/trade/itemlist/list_sold_items.htm?auctionStatus=ALL&commentStatus=I_HAS_NOT_COMMENT">需要评价</a></li>
</ul>
<p class="rule-notice">虚拟物品发货规则已更新。<a href="{{0}}/help/virtual_consign_rule.htm?from=sold" class="detail-link" target="_blank">详情</a></p>
<table class="bought-table">
<thead><tr><th>宝贝</th><th>买家</th><th>交易状态</th><th>操作</th></tr></thead>
{{1}}</table>)",
                                            {base_, blocks, unratedView ? "current" : ""}));
}

// The state text stands between line breaks and tabs; the quantity cells of
// the lines are followed by the order's total quantity in a cell of the same
// class; a recommended goods snapshot on another site follows the lines.
std::string SimPages::orderDetail(const SimOrder& order) const {
  int quantity = 0;
  for (const SimLine& line : order.lines) quantity += line.num;
  const std::string state = "\r\n\t\t" + stateText(order.state) + "\t\r\n\t";
  return layout(gbk("交易详情"), simFill(R"(<div class="trade-detail">
<div class="order-status">
<h3>当前订单状态：<span class="wait">{{1}}</span></h3>
</div>
<div class="info-box">
<h4>订单信息</h4>
<dl class="buyer-info">
  <dt>买家信息</dt>
  <dd>昵称：<span class="nickname">{{2}}</span> <span class="J_WangWang" data-nick="{{3}}" data-display="inline"></span></dd>
  <dd>邮件：<a class="mail" href="mailto:{{4}}"><span>{{4}}</span></a></dd>
</dl>
<dl class="order-info">
  <dd>订单编号：<span class="order-num">{{5}}</span></dd>
  <dd>支付宝交易号：<span class="alilay-num">{{6}}</span></dd>
  <dd>成交时间：{{7}}</dd>
</dl>
</div>
<table class="order-items">
<thead><tr><th>宝贝</th><th>单价(元)</th><th>数量</th><th>小计(元)</th></tr></thead>
<tbody>
{{8}}</tbody>
<tfoot><tr class="order-sum"><td colspan="2">合计</td><td class="num">{{10}}</td><td class="total">{{11}}</td></tr></tfoot>
</table>
<p class="memo">卖家备忘：{{9}}</p>
<div class="recommend">
<h4>买了该宝贝的人还买了</h4>
<a href="http://guang.example.net/trade/detail/trade_snap.htm?trade_id=18888" title="推荐：东方卡盟月卡">推荐：东方卡盟月卡</a>
</div>
</div>)",
                                       {base_, state, esc(order.buyer), esc(order.ww), esc(order.email),
                                        order.id, order.alipayId, dealTime(order.created), lineRows(order, true),
                                        esc(order.memo), std::to_string(quantity), orderTotal(order)}));
}

std::string SimPages::snapshot(const SimOrder& order, size_t line) const {
  const SimLine& l = order.lines.at(line);
  return layout(gbk("交易快照"), simFill(R"(<div class="shop-info"><a href="{{0}}/shop/view_shop.htm?user_number_id=20120815" target="_blank">进入店铺</a></div>
<div class="snap-tip">您查看的是交易快照，即买家下单时的宝贝信息。<a href="{{0}}/item.htm?{{1}}={{2}}" target="_blank">查看宝贝最新信息</a></div>
<div class="item-detail">
<h3>{{3}}</h3>
<p class="price">成交价格：<em>{{4}}</em> 元</p>
<p class="snap-time">快照时间：{{5}}</p>
</div>)",
                                       {base_, order.archive ? "item_id" : "id", l.itemId, esc(l.title), esc(l.price),
                                        dealTime(order.created)}));
}

std::string SimPages::consign(const SimOrder& order, int variant, const std::string& dummy, bool withInputs) const {
  std::string formOpen = variant == 1 ? R"(<form id="orderForm" action="" method="post" name="orderForm">)"
                                      : R"(<form id="orderForm" name="orderForm" method="post" >)";
  std::string inputs = simFill(R"(<input type="hidden" name="_tb_token_" value="{{0}}" />
<input type="hidden" name="bizOrderId" value="{{1}}" />
<input type="hidden" name="event_submit_do_dummy" value="{{2}}" />
<ul class="logis-type">
  <li><input type="radio" name="logisType" value="2" checked="checked" /> 无需物流</li>
  <li><input type="radio" name="logisType" value="1" /> 自己联系物流</li>
</ul>
<p>运单号码：<input type="text" name="mailNo" id="mailNo" value="" maxlength="30" /></p>
<p>备注：<textarea name="_fmw.n._0.g" rows="3" cols="60"></textarea></p>
<p><input type="checkbox" name="smsNotice" value="1" /> 短信通知买家</p>
<p><input type="submit" class="btn" value="确认" /></p>)",
                               {token_, order.id, esc(dummy)});
  if (!withInputs) inputs = gbk("<p>发货服务暂时无法使用，请稍后再试。</p>");
  return layout(gbk("发货"), simFill(R"(<div class="consign">
<h3>第一步 确认收货信息及交易详情</h3>
<table class="order-info">
  <tr><th>订单编号：</th><td>{{1}}</td><th>买家：</th><td>{{2}}</td></tr>
  <tr><th>收货信息：</th><td colspan="3">虚拟物品，无需物流</td></tr>
</table>
<table class="order-items">
<tbody>
{{3}}</tbody>
</table>
<h3>第二步 选择物流服务</h3>
{{4}}
{{5}}
</form>
</div>)",
                                     {base_, order.id, esc(order.buyer), lineRows(order, false), gbk(formOpen),
                                      inputs}));
}

std::string SimPages::consignDone(const SimOrder& order) const {
  return layout(gbk("发货成功"), simFill(R"(<div class="msg-box ok">
<h3>恭喜您，操作成功！</h3>
<p>订单 {{1}} 已发货，请等待买家确认收货。<a href="{{0}}/trade/itemlist/list_sold_items.htm">返回已卖出的宝贝</a></p>
</div>)",
                                         {base_, order.id}));
}

std::string SimPages::memo(const SimOrder& order, bool withForm) const {
  std::string flags;
  const char* names[] = {"无", "红", "黄", "绿", "蓝", "紫"};
  for (int f = 0; f < 6; ++f) {
    bool checked = order.memoFlag.empty() ? f == 0 : order.memoFlag == std::to_string(f);
    flags += simFill(R"(  <label><input type="radio" name="flag" value="{{0}}"{{1}} /> {{2}}</label>
)",
                     {std::to_string(f), checked ? " checked=\"checked\"" : "", gbk(names[f])});
  }
  if (!withForm) {
    return layout(gbk("编辑备忘"), simFill(R"(<div class="memo-edit">
<h3>订单 {{0}} 的卖家备忘</h3>
<p>备忘功能正在维护，请稍后再试。</p>
</div>)",
                                           {order.id}));
  }
  return layout(gbk("编辑备忘"), simFill(R"(<div class="memo-edit">
<h3>订单 {{0}} 的卖家备忘</h3>
<form id="form1" name="form1" action="#" method="post">
<input type="hidden" name="_tb_token_" value="{{1}}" />
<input type="hidden" name="biz_order_id" value="{{0}}" />
<input type="hidden" name="user_type" value="1" />
<input type="hidden" name="event_submit_do_update" value="1" />
<div class="flags">
{{2}}</div>
<textarea name="memo" id="memo" cols="60" rows="6">{{3}}</textarea>
<p><input type="submit" class="btn" value="确定" /></p>
</form>
</div>)",
                                         {order.id, token_, flags, esc(order.memo)}));
}

std::string SimPages::rate(const SimOrder& order) const {
  return layout(gbk("评价买家"), simFill(R"(<div class="rate">
<h3>给买家 {{1}} 评价</h3>
<form id="rateListForm" action="/remarkBuyer.htm" name="addfeedback" method="post">
<input type="hidden" name="_tb_token_" value="{{2}}" />
<input type="hidden" name="tradeID" value="{{0}}" />
<table class="rate-list">
<tr>
  <td class="trade">订单编号：{{0}}</td>
  <td class="rates">
    <label><input type="radio" name="rates{{0}}" value="1" checked="checked" /> 好评</label>
    <label><input type="radio" name="rates{{0}}" value="0" /> 中评</label>
    <label><input type="radio" name="rates{{0}}" value="-1" /> 差评</label>
  </td>
  <td class="content"><textarea name="rateContents{{0}}" cols="40" rows="3"></textarea></td>
</tr>
</table>
<p><input type="submit" class="btn" value="确认提交" /></p>
</form>
</div>)",
                                         {order.id, esc(order.buyer), token_}));
}

std::string SimPages::webIm(const std::string& touid) const {
  return layout(gbk("阿里旺旺"), simFill(R"(<div class="webww">
<p>正在为您打开与 <strong>{{0}}</strong> 的聊天窗口……</p>
<p>如果聊天窗口没有出现，请确认阿里旺旺已经登录。</p>
</div>)",
                                         {esc(touid)}));
}

std::string SimPages::notice(const std::string& title, const std::string& text) const {
  return layout(esc(title), simFill(R"(<div class="msg-box">
<h3>{{0}}</h3>
<p><a href="{{1}}/trade/itemlist/list_sold_items.htm">返回已卖出的宝贝</a></p>
</div>)",
                                    {esc(text), base_}));
}

}  // namespace Quorvel
