// The buyer text a category's templates give, before any buyer pays: the
// "category" sub-action "preview" shows it while the seller edits the
// templates. It is built by the delivery's own text functions
// (delivery/DeliveryTexts.h) in the delivery's order, so it equals, byte for
// byte, the text of one goods line of a delivered order (the order's text is
// that line and "\r\n").
//
// Plain functions; the action runs on the server thread.
#pragma once

#include <string>
#include <vector>

#include "store/Category.h"
#include "store/Item.h"

namespace Quorvel {

// The line "【goodsName】的发货信息：" followed, for type 1 (cards), by the
// goods template filled with the cards filled into the card template, or,
// for type 2 (text), by the goods template alone. Any other type delivers
// nothing and raises Exception; so does a template the delivery cannot
// read (checkTemplates).
std::string previewLine(const CategoryRecord& category, const std::string& goodsName,
                        const std::vector<CardRecord>& cards);

// The sample cards of `json` (GBK text): a JSON array of up to
// kMaxPreviewCards arrays of up to three texts [data1, data2, data3]. Empty
// text or an empty array gives two invented cards. Raises Exception for
// anything else.
inline constexpr std::size_t kMaxPreviewCards = 100;
std::vector<CardRecord> previewCards(const std::string& json);

}  // namespace Quorvel
