#include "market/SellerMemo.h"

#include <vector>

#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "market/SellerForms.h"

namespace Quorvel {

namespace {

const char kMemoForm[] = "<form id=\"form1\" name=\"form1\" action=\"#\" method=\"post\">(.+)</form>";

}  // namespace

MemoForm readMemoForm(const std::string& page) {
  MemoForm read;
  std::vector<std::string> form;
  if (!regexMatch(kMemoForm, page, form)) {
    read.refusal = MemoRefusal::kNoForm;
  } else if (!readFormInputs(form[1], read.fields)) {
    read.fields.clear();
    read.refusal = MemoRefusal::kFormWithoutInputs;
  }
  return read;
}

MemoOutcome updateSellerMemo(const Env& env, const OrderInfo& order) {
  MemoOutcome out;
  const std::string url = MarketHosts::sellerMemoPage(order.order_id);
  MemoForm form = readMemoForm(httpGet(env, url));
  if (form.refusal != MemoRefusal::kNone) {
    out.refusal = form.refusal;
    return out;
  }
  form.fields["flag"] = "1";
  form.fields["memo"] = order.send_msg;
  const HttpResult answer = httpFetch(env, url, form.fields);
  if (!answer.error.empty()) {
    out.refusal = MemoRefusal::kUnanswered;
    out.reason = answer.reason();
    return out;
  }
  out.status = answer.status;
  return out;
}

}  // namespace Quorvel
