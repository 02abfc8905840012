// GoodsSource: where the goods refresh reads the seller's items on sale, one
// page of the marketplace's on-sale list at a time. The refresh is handed
// its source by its caller, the goods action taking the GoodsSource entry of
// its Env; the program sets the marketplace scraper (market/GoodsScraper.h)
// there at start, tests put their own in an Env of theirs.
//
// Called by the thread that runs the refresh, one page after the other.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Quorvel {

// One item on sale, as the on-sale list shows it.
struct GoodsRecord {
  std::string item_id;  // digits
  std::string name;     // the item's title
  std::string url;      // the item page
  std::string img_url;  // the item's picture
};

class GoodsSource {
 public:
  virtual ~GoodsSource() = default;

  // Until a source is installed: every page raises Exception, so a refresh
  // fails visibly instead of emptying the goods table.
  static std::shared_ptr<GoodsSource> makeProcessWide();

  // The items shown on page `page` (from 1) of the on-sale list, in page
  // order; empty for a page past the last one. Raises an Exception when the
  // page cannot be read.
  virtual std::vector<GoodsRecord> page(int page) = 0;
};

}  // namespace Quorvel
