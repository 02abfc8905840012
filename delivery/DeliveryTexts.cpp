#include "delivery/DeliveryTexts.h"

#include <mutex>
#include <unordered_map>

#include "base/Charset.h"
#include "base/GbkText.h"
#include "base/Mutex.h"
#include "base/ProcessWide.h"

namespace Quorvel {

namespace {

bool isOne(const Json::Value& value) { return value.isIntegral() && value.asLargestInt() == 1; }

// What the categories' JSON texts read as, keyed by the text itself: every
// order of a category asks for the same texts several times, and an edited
// category brings a new text, read afresh. A text that fails to read is not
// kept, so it fails again each time. Bounded: past kKept texts of a kind the
// kind starts over.
struct ReadCategoryTexts {
  static constexpr size_t kKept = 64;
  static std::shared_ptr<ReadCategoryTexts> instance() { return processWide<ReadCategoryTexts>(); }
  Mutex mutex;
  std::unordered_map<std::string, DeliveryTemplates> templates GUARDED_BY(mutex);  // guarded by mutex
  std::unordered_map<std::string, BuyerChannels> channels GUARDED_BY(mutex);       // guarded by mutex
};

template <class Value, class Read>
Value readOnce(std::unordered_map<std::string, Value> ReadCategoryTexts::*kind, const std::string& text, Read read) {
  std::shared_ptr<ReadCategoryTexts> cache = ReadCategoryTexts::instance();
  {
    MutexLock hold(cache->mutex);
    auto found = ((*cache).*kind).find(text);
    if (found != ((*cache).*kind).end()) return found->second;
  }
  // Read outside the lock; two threads reading the same text at once keep
  // the same value.
  Value value = read();
  MutexLock hold(cache->mutex);
  auto& kept = (*cache).*kind;
  if (kept.size() >= ReadCategoryTexts::kKept) kept.clear();
  kept.emplace(text, value);
  return value;
}

}  // namespace

DeliveryTemplates templatesOf(const CategoryRecord& category) {
  return readOnce(&ReadCategoryTexts::templates, category.tpl, [&category]() -> DeliveryTemplates {
    const Json::Value tpl = Category::parseJson(category.tpl);
    if (tpl.isNull()) return {};
    return {Category::jsonText(tpl["cardTpl"]), Category::jsonText(tpl["goodsTpl"]),
            Category::jsonText(tpl["mailSubject"])};
  });
}

std::string fillMailSubject(const std::string& mailSubject, const std::string& orderNumber) {
  static const std::string placeholder = gbk("{订单号}");
  std::string out;
  size_t pos = 0;
  while (pos < mailSubject.size()) {
    if (mailSubject.compare(pos, placeholder.size(), placeholder) == 0) {
      out += orderNumber;
      pos += placeholder.size();
      continue;
    }
    const size_t length = gbkCharLength(mailSubject, pos);
    out.append(mailSubject, pos, length);
    pos += length;
  }
  return out;
}

std::string fillCard(const std::string& cardTpl, const CardRecord& card) {
  static const std::string placeholders[] = {gbk("{数据1}"), gbk("{数据2}"), gbk("{数据3}")};
  const std::string* values[] = {&card.data1, &card.data2, &card.data3};
  std::string out;
  out.reserve(cardTpl.size());
  size_t pos = 0;
  while (pos < cardTpl.size()) {
    bool replaced = false;
    for (int k = 0; k < 3 && !replaced; ++k) {
      if (cardTpl.compare(pos, placeholders[k].size(), placeholders[k]) == 0) {
        out += *values[k];
        pos += placeholders[k].size();
        replaced = true;
      }
    }
    if (replaced) continue;
    const size_t length = gbkCharLength(cardTpl, pos);
    out.append(cardTpl, pos, length);
    pos += length;
  }
  return out;
}

std::string fillGoods(const std::string& goodsTpl, const std::string& cardsText) {
  const std::string placeholder = gbk("{卡密内容}");
  if (!gbkContains(goodsTpl, placeholder)) return goodsTpl + cardsText;
  return gbkReplaceAll(goodsTpl, placeholder, cardsText);
}

std::string lineHeader(const std::string& goodsName) { return gbk("【") + goodsName + gbk("】的发货信息："); }

std::string summaryOf(const OrderGoods& line) { return line.goods_name + gbk("×") + std::to_string(line.num) + " "; }

BuyerChannels channelsOf(const CategoryRecord& category) {
  return readOnce(&ReadCategoryTexts::channels, category.ext, [&category]() -> BuyerChannels {
    const Json::Value ext = Category::parseJson(category.ext);
    return {isOne(ext["ww"]), isOne(ext["email"]), isOne(ext["web"])};
  });
}

}  // namespace Quorvel
