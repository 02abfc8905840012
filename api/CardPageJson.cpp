#include "api/CardPageJson.h"

#include <charconv>

#include "api/ItemActions.h"
#include "server/StyledJson.h"

namespace Quorvel {

namespace {

// StyledWriter indents by three spaces a level; a card's members are at
// level three, inside the reply (one) and its list (two).
constexpr const char* kListIndent = "      ";
constexpr const char* kMemberIndent = "         ";

void appendNumber(std::string& out, const char* name, long long value) {
  out += kMemberIndent;
  out += name;
  char digits[24];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, written.ptr);
  out += ",\n";
}

void appendText(std::string& out, const char* name, const std::string& value, bool last) {
  out += kMemberIndent;
  out += name;
  appendJsonString(out, value);
  out += last ? "\n" : ",\n";
}

}  // namespace

std::string styledCardPage(const CardPage& page) {
  std::string out;
  out.reserve(256 + page.cards.size() * 200);
  out += "{\n   \"LIST\" : ";
  if (page.cards.empty()) {
    out += "null,\n";
  } else {
    out += "[\n";
    for (std::size_t i = 0; i < page.cards.size(); ++i) {
      const CardRecord& card = page.cards[i];
      // Members in byte order, as the writer lists them.
      out += kListIndent;
      out += "{\n";
      appendNumber(out, "\"cg_id\" : ", card.cg_id);
      appendText(out, "\"data1\" : ", card.data1, false);
      appendText(out, "\"data2\" : ", card.data2, false);
      appendText(out, "\"data3\" : ", card.data3, false);
      appendNumber(out, "\"id\" : ", card.id);
      appendText(out, "\"send_order_id\" : ", card.send_order_id, true);
      out += kListIndent;
      out += i + 1 < page.cards.size() ? "},\n" : "}\n";
    }
    out += "   ],\n";
  }
  out += "   \"MSG\" : \"SUCCESS\",\n";
  out += "   \"PAGE\" : " + std::to_string(page.page) + ",\n";
  out += "   \"PAGE_MAX\" : " + std::to_string(page.pages) + ",\n";
  out += "   \"PAGE_NUM\" : " + std::to_string(page.pageSize) + ",\n";
  out += "   \"SUCCESS\" : 1\n}\n";
  return out;
}

Json::Value cardPageValue(const CardPage& page) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  reply["MSG"] = "SUCCESS";
  Json::Value list;  // null when there is no card
  for (const CardRecord& card : page.cards) list.append(cardJson(card));
  reply["LIST"] = std::move(list);
  reply["PAGE_NUM"] = page.pageSize;
  reply["PAGE"] = page.page;
  reply["PAGE_MAX"] = page.pages;
  return reply;
}

}  // namespace Quorvel
