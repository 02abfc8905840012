// "category preview" against the delivery itself: a category's templates
// and cards are delivered to a paid order on the marketplace simulator, and
// the preview of the same templates, cards and goods title must give the
// order's text byte for byte. Titles, templates and cards carry GBK
// characters whose second byte is a pattern or template character
// (淺 \, 東 |, 乛 ^, 乕 [, 亄 {, 匽 ]).
#include <gtest/gtest.h>

#include "api/CategoryActions.h"
#include "api/CategoryPreview.h"
#include "tests/api/ApiClient.h"
#include "tests/delivery/DeliveryFixture.h"

namespace Quorvel::testing {
namespace {

class CategoryPreview : public DeliveryFixture {
 protected:
  void SetUp() override {
    DeliveryFixture::SetUp();
    registerCategoryActions(Env());
  }

  // The cards as the page sends them: [[data1, data2, data3], ...] (UTF-8).
  static std::string cardsJson(const std::vector<CardRecord>& cards) {
    Json::Value list(Json::arrayValue);
    for (const CardRecord& card : cards) {
      Json::Value fields(Json::arrayValue);
      for (const std::string* text : {&card.data1, &card.data2, &card.data3}) fields.append(gbkToUtf8(*text));
      list.append(fields);
    }
    Json::StreamWriterBuilder writer;
    writer["emitUTF8"] = true;
    return Json::writeString(writer, list);
  }

  Json::Value preview(const std::vector<std::pair<std::string, std::string>>& form) {
    return callAction(server_.port(), "category&action=preview", formOf(form));
  }

  // The order's text_msg, as the page would receive it (UTF-8).
  std::string deliveredText(const std::string& number) { return gbkToUtf8(ofOrder("`text_msg`", number)); }

  TestServer server_;
};

TEST_F(CategoryPreview, TheCardPreviewEqualsTheDeliveredTextForTheSameCards) {
  // Placeholders glued to characters whose second byte is "{", a goods
  // template with the placeholder twice, and card data holding a
  // placeholder that must not be filled again.
  const std::string cardTpl = gbk("亄数据1}卡号：{数据1} 密码：{数据2}{数据3}匽\r\n");
  const std::string goodsTpl = gbk("淺東乛乕：{卡密内容}--{卡密内容}");
  const std::string tpl = tplJson(cardTpl, goodsTpl);
  const int category = addCategory(1, tpl);
  addCards(category, 2, gbk("亄{数据2}乕"));
  const std::vector<CardRecord> cards = Item::instance()->unsentCards(getDb(), category, 2);
  const std::string title = gbk("淺東乛 点卡【亄匽】\\");
  SimOrder order = place("b", {{addItem(title, category), 2}});
  tick();
  ASSERT_EQ(statusOf(order.id), kOrderDelivered) << deliveredText(order.id);

  Json::Value reply = preview({{"tpl", gbkToUtf8(tpl)}, {"type", "1"}, {"cards", cardsJson(cards)},
                               {"goods_name", gbkToUtf8(title)}, {"order_id", order.id}});
  ASSERT_EQ(reply["SUCCESS"], Json::Value(1)) << reply["MSG"].asString();
  EXPECT_EQ(reply["TEXT"].asString() + "\r\n", deliveredText(order.id));
  // The same through the function the action uses, in GBK.
  CategoryRecord record = Category::instance()->get(category);
  EXPECT_EQ(previewLine(record, title, cards) + "\r\n", ofOrder("`text_msg`", order.id));
}

TEST_F(CategoryPreview, TheTextPreviewEqualsTheDeliveredTextAndTakesNoCard) {
  const std::string tpl = tplJson(gbk("ignored {数据1}"), gbk("下载：http://example.com/淺亄\r\n提取码 東乛"));
  const int category = addCategory(2, tpl);
  const std::string title = gbk("資料乕匽");
  SimOrder order = place("b", {{addItem(title, category), 3}});
  tick();
  ASSERT_EQ(statusOf(order.id), kOrderDelivered);
  Json::Value reply = preview({{"tpl", gbkToUtf8(tpl)}, {"type", "2"}, {"goods_name", gbkToUtf8(title)}});
  EXPECT_EQ(reply["TEXT"].asString() + "\r\n", deliveredText(order.id));
}

TEST_F(CategoryPreview, SampleCardsStandInAndRefusedInputsSaySo) {
  Json::Value sample = preview({{"tpl", R"({"cardTpl":"[{数据1}/{数据2}]","goodsTpl":""})"}, {"type", "1"}});
  ASSERT_EQ(sample["SUCCESS"], Json::Value(1)) << sample["MSG"].asString();
  EXPECT_EQ(sample["TEXT"].asString(), "【示例商品 话费充值卡】的发货信息：[示例卡号0001/示例密码0001][示例卡号0002/示例密码0002]");
  EXPECT_EQ(preview({{"tpl", R"({"cardTpl":"{数据1}{数据3}"})"}, {"type", "1"}, {"cards", R"([["a"],[1,null,"c"]])"},
                     {"goods_name", "G"}})["TEXT"],
            Json::Value("【G】的发货信息：a1c"));

  struct Case {
    std::string tpl, type, cards, word;
  };
  const std::string good = R"({"cardTpl":"{数据1}"})";
  for (const Case& bad : std::vector<Case>{{"[1]", "1", "", "tpl"},
                                           {R"({"cardTpl":{"x":1}})", "1", "", "tpl"},
                                           {good, "0", "", "类型"},
                                           {good, "", "", "类型"},
                                           {good, "1", "{}", "cards"},
                                           {good, "1", "[[1,2,3,4]]", "cards"},
                                           {good, "1", "[[[1]]]", "cards"},
                                           {good, "1", "[\"a\"]", "cards"},
                                           {good, "1", "[" + std::string(600, '[') + "]", "cards"}}) {
    Json::Value reply = preview({{"tpl", bad.tpl}, {"type", bad.type}, {"cards", bad.cards}});
    EXPECT_EQ(reply["SUCCESS"], Json::Value(0)) << bad.tpl << " " << bad.type << " " << bad.cards;
    EXPECT_NE(reply["MSG"].asString().find(bad.word), std::string::npos) << reply["MSG"].asString();
    EXPECT_FALSE(reply.isMember("TEXT"));
  }
  std::string many = "[";
  for (std::size_t k = 0; k <= kMaxPreviewCards; ++k) many += std::string(k ? "," : "") + "[\"c\"]";
  EXPECT_EQ(preview({{"tpl", good}, {"type", "1"}, {"cards", many + "]"}})["SUCCESS"], Json::Value(0));
}

}  // namespace
}  // namespace Quorvel::testing
