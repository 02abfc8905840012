#include "store/Item.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>

#include "base/Charset.h"
#include "store/Category.h"
#include "store/Db.h"
#include "store/MsgQueue.h"
#include "store/Savepoint.h"
#include "base/ProcessWide.h"
#include "store/SystemConfig.h"

namespace Quorvel {

namespace {

thread_local bool lowStock = false;  // the calling thread's low-stock flag

// The card columns in the order readCard reads them.
const std::string kSelectCards = "select `id`,`cg_id`,`data1`,`data2`,`data3`,`send_order_id` from `items` ";

// The cursor's current row of kSelectCards, read column by column.
CardRecord readCard(IDbResult& rows) {
  CardRecord card;
  card.id = rows.intAt(0);
  card.cg_id = rows.intAt(1);
  card.data1 = rows.textAt(2);
  card.data2 = rows.textAt(3);
  card.data3 = rows.textAt(4);
  card.send_order_id = rows.textAt(5);
  return card;
}

// `expected` rows are room made at once (up to a page's worth: a count from
// an order may be far larger than the stock).
std::vector<CardRecord> readCards(const std::shared_ptr<IDbResult>& rows, std::int64_t expected = 0) {
  std::vector<CardRecord> cards;
  cards.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(expected, 0, 256)));
  while (rows->next()) cards.push_back(readCard(*rows));
  return cards;
}

}  // namespace

std::shared_ptr<Item> Item::instance() { return processWide<Item>(); }

std::shared_ptr<Item> Item::makeProcessWide() { return std::shared_ptr<Item>(new Item); }

Item::~Item() = default;

Item::Counts Item::counts(const std::shared_ptr<IDb>& db, int categoryId) {
  std::shared_ptr<IDbResult> rows;
  try {
    rows = db->query(
        std::make_shared<SQL>("select `total`,`unsent` from `item_stock` where `cg_id`=?")->bind(categoryId));
  } catch (DbException e) {
    // A database made from an older template has no count table: count the
    // cards themselves (slower on large stocks, same result).
    if (e.message().find("no such table") == std::string::npos) throw;
    rows = db->query(std::make_shared<SQL>("select count(*) as `total`, ifnull(sum(`send_order_id`=''),0) as `unsent` "
                                           "from `items` where `cg_id`=?")
                         ->bind(categoryId));
  }
  Counts counts;
  if (rows->next()) {
    std::shared_ptr<DbRow> row = rows->fetch();
    counts.total = (*row)["total"].toInt();
    counts.unsent = (*row)["unsent"].toInt();
  }
  return counts;
}

int Item::cardCount(const std::shared_ptr<IDb>& db, int categoryId) { return counts(db, categoryId).total; }

int Item::pagesOf(int cards, int pageSize) {
  pageSize = std::max(pageSize, 1);
  return static_cast<int>((std::max<std::int64_t>(cards, 0) + pageSize - 1) / pageSize);
}

int Item::pageCount(const std::shared_ptr<IDb>& db, int categoryId, int pageSize) {
  return pagesOf(cardCount(db, categoryId), pageSize);
}

namespace {

// Where the card `skip` places after the category's first card (or, with
// `fromEnd`, before its last one) sits: the id bound of the 1024-id range
// holding it (its first id, or its last from the end) and how many of the
// category's cards in that range come before it. The range is found by
// adding up the counts of `item_pages` in id order (reading them is cheaper
// than a window sum in SQL). Nothing when the category has no card that far;
// a DbException when the database has no such table.
struct RangeStart {
  std::int64_t bound = 0;
  std::int64_t rest = 0;
};
std::optional<RangeStart> rangeOf(IDb& db, int categoryId, std::int64_t skip, bool fromEnd) {
  std::shared_ptr<IDbResult> rows =
      db.query(std::make_shared<SQL>(std::string("select `bucket`,`total` from `item_pages` where `cg_id`=? order by "
                                                 "`bucket`") +
                                     (fromEnd ? " desc" : ""))
                   ->bind(categoryId));
  std::int64_t before = 0;  // the category's cards in the ranges already passed
  while (rows->next()) {
    const std::int64_t total = rows->intAt(1);
    if (before + total > skip) {
      const std::int64_t first = static_cast<std::int64_t>(rows->intAt(0)) * 1024;
      return RangeStart{fromEnd ? first + 1023 : first, skip - before};
    }
    before += total;
  }
  return std::nullopt;
}

// `take` cards of the category after skipping `skip` in id order (from the
// last card backwards with `fromEnd`, in that order).
std::vector<CardRecord> slice(IDb& db, int categoryId, std::int64_t skip, std::int64_t take, bool fromEnd) {
  const std::string order = fromEnd ? " order by `id` desc limit ?,?" : " order by `id` limit ?,?";
  std::optional<RangeStart> range;
  try {
    range = rangeOf(db, categoryId, skip, fromEnd);
  } catch (DbException e) {
    // A database made from an older template has no range counts: skip the
    // cards one by one (slower deep inside large stocks, same cards).
    if (e.message().find("no such table") == std::string::npos) throw;
    return readCards(
        db.query(std::make_shared<SQL>(kSelectCards + "where `cg_id`=?" + order)->bind(categoryId)->bind(skip)->bind(take)),
        take);
  }
  if (!range) return {};
  return readCards(db.query(std::make_shared<SQL>(kSelectCards + "where `cg_id`=? and `id`" + (fromEnd ? "<=" : ">=") +
                                                  "?" + order)
                                ->bind(categoryId)
                                ->bind(range->bound)
                                ->bind(range->rest)
                                ->bind(take)),
                   take);
}

}  // namespace

std::vector<CardRecord> Item::list(const std::shared_ptr<IDb>& db, int categoryId, int page, int pageSize, int cards) {
  pageSize = std::max(pageSize, 1);
  int p = std::min(std::max(page - 1, 0), pagesOf(cards, pageSize) - 1);
  if (p < 0) return {};
  const std::int64_t offset = static_cast<std::int64_t>(p) * pageSize;
  const std::int64_t total = cards;
  // The range counts and the cards are read from one state.
  Savepoint snapshot(db);
  std::vector<CardRecord> found;
  if (offset * 2 <= total) {
    found = slice(*db, categoryId, offset, pageSize, false);
  } else {
    // Nearer the end: the same cards, counted from the last one, so that
    // fewer range counts are added up.
    std::int64_t fromEnd = total - offset - pageSize;
    std::int64_t take = pageSize;
    if (fromEnd < 0) {
      take += fromEnd;
      fromEnd = 0;
    }
    if (take > 0) found = slice(*db, categoryId, fromEnd, take, true);
    std::reverse(found.begin(), found.end());
  }
  snapshot.release();
  return found;
}

namespace {

// A search's statement: `head`, the filter, then `tail`. The database holds
// UTF-8, in which a character's bytes never occur inside another one, so a
// byte search finds characters.
std::shared_ptr<SQL> searchSql(const std::string& head, const std::string& text, int categoryId,
                               const std::string& tail = "") {
  auto sql = std::make_shared<SQL>(head + "where (instr(`data1`,?1)>0 or instr(`data2`,?1)>0 or instr(`data3`,?1)>0)" +
                                   (categoryId != 0 ? " and `cg_id`=?2" : "") + tail);
  sql->bind(text);
  if (categoryId != 0) sql->bind(categoryId);
  return sql;
}

}  // namespace

int Item::searchCount(const std::shared_ptr<IDb>& db, const std::string& text, int categoryId) {
  std::shared_ptr<IDbResult> rows = db->query(searchSql("select count(*) from `items` ", text, categoryId));
  return rows->next() ? rows->intAt(0) : 0;
}

std::vector<CardRecord> Item::search(const std::shared_ptr<IDb>& db, const std::string& text, int categoryId, int page, int pageSize, int cards) {
  pageSize = std::max(pageSize, 1);
  const int p = std::min(std::max(page - 1, 0), pagesOf(cards, pageSize) - 1);
  if (p < 0) return {};
  std::shared_ptr<SQL> sql = searchSql(kSelectCards, text, categoryId, " order by `id` limit ?,?");
  sql->bind(static_cast<std::int64_t>(p) * pageSize)->bind(static_cast<std::int64_t>(pageSize));
  return readCards(db->query(sql), pageSize);
}

CardRecord Item::get(const std::shared_ptr<IDb>& db, int id) {
  std::shared_ptr<IDbResult> rows =
      db->query(std::make_shared<SQL>(kSelectCards + "where `id`=?")->bind(id));
  return rows->next() ? readCard(*rows) : CardRecord();
}

void Item::add(const std::shared_ptr<IDb>& db, CardRecord& card) {
  Savepoint unit(db);
  db->execute(std::make_shared<SQL>(
                  "insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) values (?,?,?,?,?)")
                  ->bind(card.cg_id)
                  ->bind(card.data1)
                  ->bind(card.data2)
                  ->bind(card.data3)
                  ->bind(card.send_order_id));
  card.id = db->lastInsertId();
  refreshCounters(db, card.cg_id);
  unit.release();
}

void Item::update(const std::shared_ptr<IDb>& db, const CardRecord& card) {
  const CardRecord stored = get(db, card.id);
  if (stored.id == 0) {
    throw Exception(gbk("卡密不存在（ID ") + std::to_string(card.id) + gbk("），未修改任何卡密。"));
  }
  Savepoint unit(db);
  db->execute(std::make_shared<SQL>("update `items` set `cg_id`=? , `data1`=?,`data2`=?,`data3`=?, "
                                    "`send_order_id`=? where `id`=?")
                  ->bind(card.cg_id)
                  ->bind(card.data1)
                  ->bind(card.data2)
                  ->bind(card.data3)
                  ->bind(card.send_order_id)
                  ->bind(card.id));
  refreshCounters(db, card.cg_id);
  if (stored.cg_id != card.cg_id) refreshCounters(db, stored.cg_id);
  unit.release();
}

void Item::remove(const std::shared_ptr<IDb>& db, int id) {
  const CardRecord stored = get(db, id);
  if (stored.id == 0) return;
  Savepoint unit(db);
  db->execute(std::make_shared<SQL>("delete from `items` where `id`=?")->bind(id));
  refreshCounters(db, stored.cg_id);
  unit.release();
}

bool Item::isIdList(const std::string& ids) {
  bool digitBefore = false;
  for (char c : ids) {
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if (c == ',' && digitBefore) {
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

std::vector<std::int64_t> Item::parseIdList(const std::string& ids) {
  if (!isIdList(ids)) {
    throw Exception(gbk("要删除的卡密必须是用逗号分隔的数字 ID，未删除任何卡密。"));
  }
  // Counted before anything is built, so a huge list costs no memory.
  const std::size_t count = static_cast<std::size_t>(std::count(ids.begin(), ids.end(), ',')) + 1;
  if (count > kMaxRemovedIds) {
    throw Exception(gbk("一次最多删除 ") + std::to_string(kMaxRemovedIds) + gbk(" 张卡密，这次选了 ") +
                    std::to_string(count) + gbk(" 张；未删除任何卡密。"));
  }
  std::vector<std::int64_t> parsed;
  parsed.reserve(count);
  const char* next = ids.data();
  const char* const end = ids.data() + ids.size();
  while (next < end) {
    const char* comma = std::find(next, end, ',');
    std::int64_t id = 0;
    // An id too long for a number names no card and is left out.
    if (std::from_chars(next, comma, id).ec == std::errc()) parsed.push_back(id);
    next = comma + 1;
  }
  return parsed;
}

void Item::removeMany(const std::shared_ptr<IDb>& db, const std::string& ids) {
  const std::vector<std::int64_t> parsed = parseIdList(ids);
  // The ids are bound in groups of kIdsPerStatement, so that no statement
  // grows with the list.
  auto inGroups = [&parsed](const std::string& head, const std::function<void(const std::shared_ptr<SQL>&)>& run) {
    for (std::size_t first = 0; first < parsed.size(); first += kIdsPerStatement) {
      const std::size_t size = std::min(kIdsPerStatement, parsed.size() - first);
      std::string text = head + " (?";
      for (std::size_t i = 1; i < size; ++i) text += ",?";
      auto sql = std::make_shared<SQL>(text + ")");
      for (std::size_t i = first; i < first + size; ++i) sql->bind(parsed[i]);
      run(sql);
    }
  };
  std::set<int> categories;
  inGroups("select distinct `cg_id` from `items` where `id` in", [&](const std::shared_ptr<SQL>& sql) {
    std::shared_ptr<IDbResult> rows = db->query(sql);
    while (rows->next()) categories.insert((*rows->fetch())["cg_id"].toInt());
  });
  if (categories.empty()) return;  // none of the ids is a card
  Savepoint unit(db);
  inGroups("delete from `items` where `id` in", [&](const std::shared_ptr<SQL>& sql) { db->execute(sql); });
  for (int category : categories) refreshCounters(db, category);
  unit.release();
}

std::vector<CardRecord> Item::unsentCards(const std::shared_ptr<IDb>& db, int categoryId, int count) const {
  // A limit below zero would mean "no limit" to SQLite.
  if (count < 1) return {};
  return readCards(db->query(std::make_shared<SQL>(kSelectCards +
                                                   "where `cg_id`=? and `send_order_id`='' order by `id` limit 0,?")
                                  ->bind(categoryId)
                                  ->bind(count)),
                   count);
}

std::vector<int> Item::markedWith(const std::shared_ptr<IDb>& db, int categoryId, const std::string& mark) {
  std::vector<int> ids;
  std::shared_ptr<IDbResult> rows = db->query(
      std::make_shared<SQL>("select `id` from `items` where `cg_id`=? and `send_order_id`=? order by `id`")
          ->bind(categoryId)
          ->bind(mark));
  while (rows->next()) ids.push_back((*rows->fetch())["id"].toInt());
  return ids;
}

std::vector<CardRecord> Item::cardsOfOrder(const std::shared_ptr<IDb>& db, const std::string& orderNumber, const std::vector<int>& categoryIds) {
  std::set<int> categories(categoryIds.begin(), categoryIds.end());
  std::vector<CardRecord> cards;
  for (const int categoryId : categories) {
    for (const std::string& mark : {deliveredMark(orderNumber), reservedMark(orderNumber)}) {
      std::vector<CardRecord> marked = readCards(db->query(
          std::make_shared<SQL>(kSelectCards + "where `cg_id`=? and `send_order_id`=? order by `id`")
              ->bind(categoryId)
              ->bind(mark)));
      cards.insert(cards.end(), marked.begin(), marked.end());
    }
  }
  std::sort(cards.begin(), cards.end(), [](const CardRecord& a, const CardRecord& b) { return a.id < b.id; });
  return cards;
}

std::string Item::orderNumberOf(const std::string& mark) {
  for (const std::string& prefix : {deliveredMark(""), reservedPrefix()}) {
    if (mark.size() > prefix.size() && mark.starts_with(prefix)) return mark.substr(prefix.size());
  }
  return std::string();
}

std::vector<int> Item::remark(const std::shared_ptr<IDb>& db, int categoryId, const std::string& from, const std::string& to) {
  if (from.empty()) throw Exception(gbk("卡密的发货标记为空，无法改写；未修改任何卡密。"));
  Savepoint unit(db);
  std::vector<int> ids = markedWith(db, categoryId, from);
  if (ids.empty()) {
    unit.release();
    return ids;
  }
  db->execute(std::make_shared<SQL>("update `items` set `send_order_id`=? where `cg_id`=? and `send_order_id`=?")
                  ->bind(to)
                  ->bind(categoryId)
                  ->bind(from));
  refreshCounters(db, categoryId);
  unit.release();
  return ids;
}

void Item::refreshCounters(const std::shared_ptr<IDb>& db, int categoryId) {
  std::shared_ptr<Category> categories = Category::instance();
  if (!categories->contains(categoryId)) return;
  const Counts now = counts(db, categoryId);
  categories->setCounters(db, categoryId, now.unsent, now.total);
  if (!lowStock) return;
  const std::string threshold = SystemConfig::instance()->get("notice_store_num");
  if (now.unsent >= std::atoi(threshold.c_str())) return;
  sellerNotice(db, categories->get(categoryId).name + gbk("的库存量已经不足") + threshold + gbk("件，当前为") +
               std::to_string(now.unsent) + gbk("件。"));
}

std::string Item::deliveredMark(const std::string& orderNumber) { return gbk("已发货：订单号：") + orderNumber; }

std::string Item::reservedMark(const std::string& orderNumber) { return reservedPrefix() + orderNumber; }

std::string Item::reservedPrefix() { return gbk("发货中：订单号："); }

void Item::setLowStockFlag(bool on) { lowStock = on; }

bool Item::lowStockFlag() const { return lowStock; }

}  // namespace Quorvel
