#include "market/SellerMemo.h"

#include <cerrno>
#include <vector>

#include "base/Charset.h"
#include "base/OrderException.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "market/SellerForms.h"

namespace Quorvel {

namespace {

const char kMemoForm[] = "<form id=\"form1\" name=\"form1\" action=\"#\" method=\"post\">(.+)</form>";

}  // namespace

FormFields readMemoForm(const std::string& page) {
  std::vector<std::string> form;
  if (!regexMatch(kMemoForm, page, form)) throw OrderException(gbk("查询表单失败"), errno);
  FormFields fields;
  if (!readFormInputs(form[1], fields)) throw OrderException(gbk("发货匹配规则1失败"), kFormWithoutInputs);
  return fields;
}

int updateSellerMemo(const OrderInfo& order) {
  const std::string url = MarketHosts::sellerMemoPage(order.order_id);
  FormFields fields = readMemoForm(httpGet(url));
  fields["flag"] = "1";
  fields["memo"] = order.send_msg;
  const HttpResult answer = httpFetch(url, fields);
  if (!answer.error.empty()) throw OrderException(gbk("卖家备注提交失败：") + answer.reason(), kConsignRefused);
  return answer.status;
}

}  // namespace Quorvel
