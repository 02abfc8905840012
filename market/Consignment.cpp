#include "market/Consignment.h"

#include <vector>

#include "base/Charset.h"
#include "base/GbkText.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "market/SellerForms.h"

namespace Quorvel {

namespace {

const char kFormVariant1[] = "<form id=\"orderForm\" action=\"\" method=\"post\" name=\"orderForm\">(.+)</form>";
const char kFormVariant2[] = "<form id=\"orderForm\" name=\"orderForm\" method=\"post\" >(.+)</form>";

}  // namespace

std::string consignNote(const std::string& text) {
  if (text.size() <= kConsignNoteWhole) return text;
  return gbkPrefix(text, kConsignNoteCut);
}

ConsignForm readConsignForm(const std::string& page) {
  ConsignForm read;
  if (!containsText(gbk("确认收货信息及交易详情"), page)) {
    read.refusal = ConsignRefusal::kNotConsignable;
    return read;
  }
  std::vector<std::string> form;
  if (!regexMatch(kFormVariant1, page, form) && !regexMatch(kFormVariant2, page, form)) {
    read.refusal = ConsignRefusal::kNoForm;
    return read;
  }
  if (!readFormInputs(form[1], read.fields)) {
    read.fields.clear();
    read.refusal = ConsignRefusal::kFormWithoutInputs;
  }
  return read;
}

ConsignOutcome consignOrder(const Env& env, const std::string& orderId, const std::string& text) {
  ConsignOutcome out;
  HttpResult page = httpFetch(env, MarketHosts::consignPage(orderId), {});
  ConsignForm form = readConsignForm(page.body);
  if (form.refusal != ConsignRefusal::kNone) {
    out.refusal = form.refusal;
    return out;
  }
  FormFields& fields = form.fields;

  fields["_fmw.n._0.g"] = consignNote(text);
  if (fields["event_submit_do_dummy"].empty()) fields["event_submit_do_dummy"] = "1";
  fields["action"] = "user/consign_action";
  fields["_fmw.f._0.fe"] = "";
  fields["_fmw.f._0.fet"] = "";
  fields["mailNo"] = "";

  // Back to the address that served the form (the consign page redirects to
  // where the site keeps it now), with the scheme it was served with.
  out.posted = true;
  HttpResult answer = httpFetch(env, page.url, fields);
  out.answered = answer.ok();
  out.reason = answer.reason();
  const std::string confirmed = gbk("恭喜您，操作成功");
  if (!containsText(confirmed, answer.body)) {
    out.refusal = ConsignRefusal::kNotConfirmed;
    return out;
  }
  out.confirmation = pageTextFrom(answer.body, confirmed);
  return out;
}

}  // namespace Quorvel
