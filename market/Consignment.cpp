#include "market/Consignment.h"

#include <json/value.h>

#include <vector>

#include "base/Charset.h"
#include "base/GbkText.h"
#include "base/OrderException.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "market/SellerForms.h"
#include "store/BlackList.h"

namespace Quorvel {

namespace {

const char kFormVariant1[] = "<form id=\"orderForm\" action=\"\" method=\"post\" name=\"orderForm\">(.+)</form>";
const char kFormVariant2[] = "<form id=\"orderForm\" name=\"orderForm\" method=\"post\" >(.+)</form>";

}  // namespace

void checkPurchaseLimits(const CategoryRecord& category, const OrderInfo& order, const OrderGoods& line) {
  const Json::Value ext = Category::parseJson(category.ext);
  const int limit = ext.isNull() ? 0 : ext["limit_number"].asInt();
  if (limit > 0 && line.num > limit) throw OrderException(gbk("发货失败：单件购买限制"), kPurchaseLimit);
  if (BlackList().contains(order.buyer)) throw OrderException(gbk("发货失败：黑名单限制"), kBlacklisted);
}

std::string consignNote(const std::string& text) {
  if (text.size() <= kConsignNoteWhole) return text;
  return gbkPrefix(text, kConsignNoteCut);
}

FormFields readConsignForm(const std::string& page) {
  if (!containsText(gbk("确认收货信息及交易详情"), page)) {
    throw OrderException(gbk("当前订单不可进行发货处理"), kNotConsignable);
  }
  std::vector<std::string> form;
  if (!regexMatch(kFormVariant1, page, form) && !regexMatch(kFormVariant2, page, form)) {
    throw OrderException(gbk("未找到发货表单"), kNoConsignForm);
  }
  FormFields fields;
  if (!readFormInputs(form[1], fields)) throw OrderException(gbk("发货匹配规则1失败"), kFormWithoutInputs);
  return fields;
}

void consignOrder(const std::string& orderId, const std::string& text, ConsignOutcome* outcome) {
  ConsignOutcome ignored;
  ConsignOutcome& out = outcome ? *outcome : ignored;
  out = ConsignOutcome();

  HttpResult page = httpFetch(MarketHosts::consignPage(orderId), {});
  FormFields fields = readConsignForm(page.body);

  fields["_fmw.n._0.g"] = consignNote(text);
  if (fields["event_submit_do_dummy"].empty()) fields["event_submit_do_dummy"] = "1";
  fields["action"] = "user/consign_action";
  fields["_fmw.f._0.fe"] = "";
  fields["_fmw.f._0.fet"] = "";
  fields["mailNo"] = "";

  // Back to the address that served the form (the consign page redirects to
  // where the site keeps it now), with the scheme it was served with.
  out.posted = true;
  HttpResult answer = httpFetch(page.url, fields);
  out.answered = answer.ok();
  out.reason = answer.reason();
  const std::string confirmed = gbk("恭喜您，操作成功");
  if (!containsText(confirmed, answer.body)) throw OrderException(gbk("发货失败！"), kConsignRefused);
  out.confirmation = pageTextFrom(answer.body, confirmed);
}

}  // namespace Quorvel
