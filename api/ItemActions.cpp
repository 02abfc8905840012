#include "api/ItemActions.h"

#include <algorithm>

#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "server/ActionTable.h"

namespace Quorvel {

Json::Value cardJson(const CardRecord& card) {
  Json::Value json(Json::objectValue);
  json["id"] = card.id;
  json["cg_id"] = card.cg_id;
  json["data1"] = card.data1;
  json["data2"] = card.data2;
  json["data3"] = card.data3;
  json["send_order_id"] = card.send_order_id;
  return json;
}

namespace {

// cg_id (a stored category), data1, data2, data3 and send_order_id from the
// request.
CardRecord cardOfRequest() {
  CardRecord card;
  card.cg_id = requireCategory("cg_id");
  card.data1 = postParam("data1");
  card.data2 = postParam("data2");
  card.data3 = postParam("data3");
  card.send_order_id = postParam("send_order_id");
  return card;
}

// The category id must be digits; every number is then raised to at least 1;
// a page past the last shows the last page, and a category without cards
// answers page 0.
void listCards(Json::Value& reply) {
  const int categoryId = std::max(requireId("cg_id"), 1);
  const int pageSize = std::max(toNumber(postParam("page_num")), 1);
  int page = std::max(toNumber(postParam("page")), 1);
  std::shared_ptr<Item> cards = Item::instance();
  const int pages = cards->pageCount(categoryId, pageSize);
  page = std::min(page, pages);
  Json::Value list;  // null when there is no card
  for (const CardRecord& card : cards->list(categoryId, page, pageSize, pages)) list.append(cardJson(card));
  reply["LIST"] = list;
  reply["PAGE_NUM"] = pageSize;
  reply["PAGE"] = page;
  reply["PAGE_MAX"] = pages;
}

void addCard(Json::Value&) {
  CardRecord card = cardOfRequest();
  Item::instance()->add(card);
}

void removeCard(Json::Value&) { Item::instance()->remove(requireId("id")); }

// The store refuses a list that is not decimal ids and commas, with a message
// the page shows.
void removeCards(Json::Value&) { Item::instance()->removeMany(postParam("id_str")); }

// Every field from the request, none merged from the stored card.
void updateCard(Json::Value&) {
  const int id = requireId("id");
  CardRecord card = cardOfRequest();
  card.id = id;
  Item::instance()->update(card);
}

void item() {
  static const SubActionTable table = {
      {"lst", listCards},        {"add", addCard},       {"del", removeCard},
      {"del_more", removeCards}, {"update", updateCard},
  };
  answerSubAction(table);
}

}  // namespace

void registerItemActions() { registerAction("item", item); }

}  // namespace Quorvel
