#include "market/GoodsScraper.h"

#include "base/Charset.h"
#include "market/AuthException.h"
#include "market/HttpClient.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"

namespace Quorvel {

GoodsScraper::GoodsScraper(const Env& env) : env_(httpEnvOf(env)) {}

std::string GoodsScraper::itemPattern() {
  return "<A HREF=\"(" + MarketHosts::itemHostPattern() +
         "/item\\.htm\\?id=([0-9]+))\" target=_blank title=\"([^\"]+)\">\\s*<img src=\"([^\"]+)\" "
         "class=\"item-pic\"/>";
}

std::vector<GoodsRecord> GoodsScraper::parse(const std::string& body) {
  std::vector<std::vector<std::string>> matches;
  regexMatchAll(itemPattern(), body, matches);
  std::vector<GoodsRecord> items;
  items.reserve(matches.size());
  for (const std::vector<std::string>& match : matches) {
    GoodsRecord item;
    item.url = match[1];
    item.item_id = match[2];
    item.name = match[3];
    item.img_url = match[4];
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<GoodsRecord> GoodsScraper::page(int page) {
  const std::string address = MarketHosts::goodsOnSalePage(page);
  const std::string body = httpGet(env_, address);
  if (containsText(gbk("标准登录框"), body)) {
    throw AuthException(gbk("淘宝要求先登录才能查看在售宝贝，请先登录淘宝（") + address + gbk("）。"));
  }
  return parse(body);
}

}  // namespace Quorvel
