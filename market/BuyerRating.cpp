#include "market/BuyerRating.h"

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "market/HttpClient.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"
#include "market/SellerForms.h"

namespace Quorvel {

namespace {

const char kRateForm[] =
    "<form id=\"rateListForm\" action=\"/remarkBuyer\\.htm\" name=\"addfeedback\"[^>]*>(.+)</form>";

}  // namespace

std::vector<std::string> unratedTradesOn(const std::string& listPage) {
  std::vector<std::vector<std::string>> matches;
  regexMatchAll(quotePattern(gbk("订单编号：")) + "([0-9]+)", listPage, matches);
  std::vector<std::string> trades;
  for (const std::vector<std::string>& match : matches) trades.push_back(match[1]);
  return trades;
}

std::vector<std::string> listUnratedTrades(const Env& env) {
  return unratedTradesOn(httpGet(env, MarketHosts::unratedOrdersPage()));
}

std::optional<FormFields> readRateForm(const std::string& page) {
  std::vector<std::string> form;
  if (!regexMatch(kRateForm, page, form)) return std::nullopt;
  FormFields fields;
  if (!readFormInputs(form[1], fields)) return std::nullopt;
  return fields;
}

void rateBuyer(const Env& env, const std::string& tradeId, int rating, const std::string& text) {
  std::optional<FormFields> form = readRateForm(httpGet(env, MarketHosts::rateFormPage(tradeId)));
  if (!form) return;
  FormFields& fields = *form;
  fields["rates" + tradeId] = std::to_string(rating);
  fields["rateContents" + tradeId] = text;
  httpRequest(env, MarketHosts::rateSubmitPage(), fields, nullptr);
}

std::shared_ptr<Comment> Comment::instance() { return processWide<Comment>(); }

bool Comment::rateBuyers(const Env& env, const std::string& text, int minutes) {
  Clock& clock = env.clock();
  {
    MutexLock hold(mutex_);
    if (clock.now() < nextAllowed_) return false;
  }
  for (const std::string& trade : listUnratedTrades(env)) rateBuyer(env, trade, 1, text);
  MutexLock hold(mutex_);
  nextAllowed_ = clock.now() + static_cast<std::int64_t>(minutes) * 60;
  return true;
}

}  // namespace Quorvel
