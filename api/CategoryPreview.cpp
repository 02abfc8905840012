#include "api/CategoryPreview.h"

#include <exception>

#include "api/CategoryChecks.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "delivery/DeliveryTexts.h"

namespace Quorvel {

std::string previewLine(const CategoryRecord& category, const std::string& goodsName,
                        const std::vector<CardRecord>& cards) {
  checkTemplates(category);
  if (category.type != CategoryType::kCards && category.type != CategoryType::kText) {
    throw Exception(gbk("类型为 ") + std::to_string(static_cast<int>(category.type)) +
                    gbk(" 的分类不会发货：请选择 1（卡密）或 2（纯文本）。"));
  }
  // As the delivery of one goods line builds it.
  const DeliveryTemplates templates = templatesOf(category);
  std::string lineText = lineHeader(goodsName);
  if (category.type == CategoryType::kCards) {
    std::string cardsText;
    for (const CardRecord& card : cards) cardsText += fillCard(templates.cardTpl, card);
    lineText += fillGoods(templates.goodsTpl, cardsText);
  } else {
    lineText += templates.goodsTpl;
  }
  return lineText;
}

std::vector<CardRecord> previewCards(const std::string& json) {
  std::vector<CardRecord> cards;
  const Json::Value value = json.empty() ? Json::Value(Json::arrayValue) : Category::parseJson(json);
  const std::string refused = gbk("示例卡密 cards 必须是 [[数据1, 数据2, 数据3], ...] 形式的 JSON 数组，最多 ") +
                              std::to_string(kMaxPreviewCards) + gbk(" 张。");
  if (!value.isArray() || value.size() > kMaxPreviewCards) throw Exception(refused);
  try {
    for (const Json::Value& fields : value) {
      if (!fields.isArray() || fields.size() > 3) throw Exception(refused);
      CardRecord card;
      std::string* texts[] = {&card.data1, &card.data2, &card.data3};
      for (Json::ArrayIndex k = 0; k < fields.size(); ++k) {
        if (fields[k].isArray() || fields[k].isObject()) throw Exception(refused);
        *texts[k] = Category::jsonText(fields[k]);
      }
      cards.push_back(std::move(card));
    }
  } catch (const std::exception&) {
    throw Exception(refused);
  }
  if (cards.empty()) {
    for (int k = 1; k <= 2; ++k) {
      CardRecord card;
      card.data1 = gbk("示例卡号000") + std::to_string(k);
      card.data2 = gbk("示例密码000") + std::to_string(k);
      card.data3 = gbk("示例备注") + std::to_string(k);
      cards.push_back(std::move(card));
    }
  }
  return cards;
}

}  // namespace Quorvel
