// The answer of the "item" action's "lst" and "search": a page of cards as
// styled JSON text, written straight from the card records. It is exactly
// what styledJson gives for the same reply built as Json values (see
// cardPageValue), but a page of cards is what the web UI asks for most and
// building it through Json::Value cost more than reading the cards.
//
// Pure functions; any thread.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "store/Item.h"

namespace Quorvel {

struct CardPage {
  std::vector<CardRecord> cards;  // no card: "LIST" is null
  int page = 0;
  int pages = 0;
  int pageSize = 0;
};

// The styled text (styledJson's layout) of {"LIST": [cards], "MSG":
// "SUCCESS", "PAGE", "PAGE_MAX", "PAGE_NUM", "SUCCESS": 1}. Raises Exception
// on text that is not GBK, as styledJson does.
std::string styledCardPage(const CardPage& page);

// The same reply as Json values.
Json::Value cardPageValue(const CardPage& page);

}  // namespace Quorvel
