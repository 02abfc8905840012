// The texts a delivery builds, all GBK: the card and goods templates filled
// in, the line header, the goods summary of the seller notices,
// and the reading of a category's JSON fields (templates, channel switches).
// The card marks are the card store's (Item::deliveredMark, reservedMark).
//
// Placeholders are replaced only where a character starts ("{" is also the
// second byte of GBK characters such as 亄), and each template is filled in
// one pass, so a card's data that happens to hold "{数据2}" stays as it is.
//
// Any thread may call them. templatesOf and channelsOf keep what a category's
// text read as (keyed by the text, so an edited category is read afresh).
#pragma once

#include <string>

#include "store/Category.h"
#include "store/Item.h"
#include "store/Order.h"

namespace Quorvel {

// The category's "cardTpl" and "goodsTpl" as text (a missing member, or a
// tpl that is not JSON, gives empty text). A member of another kind than a
// string, number or boolean raises the JSON library's exception; a tpl that
// is not valid GBK raises Exception("Iconv ERROR!").
struct DeliveryTemplates {
  std::string cardTpl;
  std::string goodsTpl;
  std::string mailSubject;  // "mailSubject": the buyer mail's subject; empty for the usual one
};
DeliveryTemplates templatesOf(const CategoryRecord& category);

// cardTpl with every "{数据1}", "{数据2}", "{数据3}" replaced by the card's
// data1, data2, data3.
std::string fillCard(const std::string& cardTpl, const CardRecord& card);

// goodsTpl with every "{卡密内容}" replaced by the cards' texts; without the
// placeholder, the cards' texts follow the template.
std::string fillGoods(const std::string& goodsTpl, const std::string& cardsText);

// "【" + goods name + "】的发货信息：".
std::string lineHeader(const std::string& goodsName);

// The subject of a buyer's mail: the category's mailSubject with every
// "{订单号}" replaced by the order number; empty when the category sets none.
std::string fillMailSubject(const std::string& mailSubject, const std::string& orderNumber);

// goods name + "×" + quantity + " ": one line of the goods summary.
std::string summaryOf(const OrderGoods& line);

// The channels a category's ext switches on: "ww", "email", "web" equal to
// the integer 1. An ext of another kind than an object (or null) raises the
// JSON library's exception.
struct BuyerChannels {
  bool ww = false;
  bool email = false;
  bool web = false;
};
BuyerChannels channelsOf(const CategoryRecord& category);

}  // namespace Quorvel
