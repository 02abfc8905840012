// The GBK pages of the simulated marketplace, each inside the site's usual
// header, navigation and footer. Every address in a page is absolute on the
// base address the request came in on ("http://127.0.0.1:PORT"), so a client
// that points every marketplace host at the simulator follows them back to it.
//
// A SimPages object renders for one request; it holds only the base address
// and the form token, so any thread may make and use its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/SimShop.h"

namespace Quorvel {

class SimPages {
 public:
  // `archivePrefix` is put after the base address in archived snapshot links.
  SimPages(std::string base, std::string formToken, std::string archivePrefix = "");

  const std::string& base() const { return base_; }

  // Login page with the standard login box; `message` (GBK, may be empty) is
  // shown in the error area, `account` is put back into the account field,
  // and with `askCode` the verification code field is shown.
  std::string login(const std::string& message, const std::string& account, bool askCode = false) const;
  std::string loginDone(const std::string& account) const;

  // One page of the goods on sale; an empty list is the page past the last.
  std::string goodsOnSale(const std::vector<SimItem>& items, int page, int pageCount) const;
  std::string itemPage(const SimItem& item) const;

  // Sold-items list (orders already filtered, newest first). A help link
  // above the list looks like a detail link but names no order.
  std::string soldItems(const std::vector<SimOrder>& orders, bool unratedView) const;
  // Every goods line links its snapshot twice (picture without a title, then
  // the titled link); a recommended snapshot on another site follows.
  std::string orderDetail(const SimOrder& order) const;
  // Snapshot of one goods line; an archived order's links the item with
  // item_id. The shop link before it carries a number after "id=" too.
  std::string snapshot(const SimOrder& order, size_t line) const;

  // The consign page with form `variant` (1 or 2) whose
  // "event_submit_do_dummy" input holds `dummy`; `withInputs` false leaves
  // the form without any input (a page the client cannot fill in).
  std::string consign(const SimOrder& order, int variant, const std::string& dummy, bool withInputs = true) const;
  std::string consignDone(const SimOrder& order) const;
  // The seller memo page; `withForm` false shows it without its form.
  std::string memo(const SimOrder& order, bool withForm = true) const;
  std::string rate(const SimOrder& order) const;
  std::string webIm(const std::string& touid) const;

  // A page of the site that only tells something (errors, confirmations).
  std::string notice(const std::string& title, const std::string& text) const;

  // The order state's text as the detail page shows it.
  static std::string stateText(int state);

 private:
  std::string layout(const std::string& title, const std::string& body) const;
  std::string lineRows(const SimOrder& order, bool withSnapshots) const;

  std::string base_;
  std::string token_;
  std::string archivePrefix_;
};

// Fills a UTF-8 template: "{{0}}", "{{1}}"... are replaced by the given GBK
// values, everything else is converted to GBK. The template is cut at the
// placeholders before conversion, so a GBK trail byte can never be taken for
// a brace.
std::string simFill(const std::string& utf8Template, const std::vector<std::string>& gbkValues);

}  // namespace Quorvel
