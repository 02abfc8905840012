// Item: the card stock, table `items`. A card belongs to one category and
// holds up to three data texts (a card number, a password, ...) and the
// delivery note of the order it went out with; it is unsent exactly while
// that note is empty. The store pages through a category's cards for the web
// UI, edits them, picks unsent cards for a delivery, and after every change
// rewrites the category's stock counters (Category::setCounters), with a
// low-stock notice to the seller when the calling thread asked for one.
//
// No cache: every call works on the connection it is given (the calling
// thread's own, from getDb), inside whatever transaction is open on it. A change and the counter
// refresh that follows it form one unit (a savepoint), so the counters never
// disagree with the cards after a failure. Card counts come from the table
// `item_stock`, which the database keeps exact for every change of `items`,
// and a page finds its first card through the counts per id range of
// `item_pages`, kept the same way (without that table it skips card by card).
// Any thread may call any operation; the low-stock flag belongs to the thread
// that set it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Quorvel {

class IDb;

// One card; the fresh record (id 0, category 0, empty texts) stands for "no
// such card".
struct CardRecord {
  int id = 0;
  int cg_id = 0;
  std::string data1;
  std::string data2;
  std::string data3;
  std::string send_order_id;  // empty while unsent
};

class Item {
 public:
  // The store (processWide), built on first use.
  static std::shared_ptr<Item> instance();
  static std::shared_ptr<Item> makeProcessWide();

  virtual ~Item();

  // The number of cards of the category (0 for a category without cards).
  int cardCount(const std::shared_ptr<IDb>& db, int categoryId);
  // The number of pages of `pageSize` cards (rounded up) that `cards` cards
  // fill. `pageSize` below 1 counts as 1.
  static int pagesOf(int cards, int pageSize);
  // pagesOf the category's cardCount.
  int pageCount(const std::shared_ptr<IDb>& db, int categoryId, int pageSize);
  // Page `page` (from 1; below 1 gives the first page, past the last page the
  // last) of the category's cards in id order, `cards` being the category's
  // cardCount as the caller read it (the list does not count again). Empty
  // when the category has no cards. The range counts and the cards are read
  // in one savepoint, so from one state.
  std::vector<CardRecord> list(const std::shared_ptr<IDb>& db, int categoryId, int page, int pageSize, int cards);

  // Cards whose data1, data2 or data3 contains `text` (compared as
  // characters, case included), of the category `categoryId` or, for 0, of
  // every category: how many there are, and page `page` (from 1; past the
  // last page the last) of them in id order. Both read every candidate
  // card's fields: a search, not a lookup.
  int searchCount(const std::shared_ptr<IDb>& db, const std::string& text, int categoryId);
  std::vector<CardRecord> search(const std::shared_ptr<IDb>& db, const std::string& text, int categoryId, int page, int pageSize,
                                 int cards);

  // The card with that id, or the fresh record.
  CardRecord get(const std::shared_ptr<IDb>& db, int id);

  // Inserts the card (card.id receives the new id) and refreshes its
  // category's counters.
  void add(const std::shared_ptr<IDb>& db, CardRecord& card);
  // Writes every field of the card to the row with its id and refreshes the
  // counters of its category and, when the card moved, of the one it left.
  // Raises Exception, changing nothing, when no card has that id.
  void update(const std::shared_ptr<IDb>& db, const CardRecord& card);
  // Deletes the card and refreshes its category's counters; an id without a
  // card changes nothing.
  void remove(const std::shared_ptr<IDb>& db, int id);
  // Deletes the cards listed as decimal ids separated by commas ("3,17,20")
  // and refreshes each affected category once. Any other text, and a list of
  // more than kMaxRemovedIds ids, is refused with an Exception before a
  // statement is built. The ids are bound, kIdsPerStatement per statement.
  void removeMany(const std::shared_ptr<IDb>& db, const std::string& ids);
  static constexpr std::size_t kMaxRemovedIds = 100000;
  static constexpr std::size_t kIdsPerStatement = 500;

  // The category's first `count` unsent cards in id order (fewer when the
  // stock is short, none for a count below 1). Never a delivered card. Only
  // reads: the cards stay unsent until the caller marks them (update or
  // remark), inside the transaction in which it read them.
  std::vector<CardRecord> unsentCards(const std::shared_ptr<IDb>& db, int categoryId, int count) const;

  // Gives every card of the category that carries the mark `from` the mark
  // `to` (the delivery's reserved cards: their final mark, or unsent again
  // with an empty one) and refreshes the category's counters, as one unit.
  // Returns the ids of the cards changed, in id order. `from` must not be
  // empty. The unit reads before it writes: call it inside a transaction
  // that already holds the write lock (the delivery's), so that no other
  // writer can come between.
  std::vector<int> remark(const std::shared_ptr<IDb>& db, int categoryId, const std::string& from, const std::string& to);
  // Ids of the category's cards that carry the mark, in id order.
  std::vector<int> markedWith(const std::shared_ptr<IDb>& db, int categoryId, const std::string& mark);

  // The cards delivered with the marketplace order `orderNumber` or
  // reserved for it, of the categories `categoryIds` (the order's goods
  // lines'), in id order. Each category is one range of `items_cg_send`.
  std::vector<CardRecord> cardsOfOrder(const std::shared_ptr<IDb>& db, const std::string& orderNumber,
                                       const std::vector<int>& categoryIds);
  // The order number in a delivered or reserved mark; empty for any other
  // text (an unsent card's, or one the seller typed).
  static std::string orderNumberOf(const std::string& mark);

  // Sets the category's `store_num` (unsent cards) and `store_total_num` (all
  // cards). When the calling thread's low-stock flag is set and the unsent
  // cards are fewer than the setting `notice_store_num`, the seller is told
  // (sellerNotice). A category that is not stored is left alone.
  void refreshCounters(const std::shared_ptr<IDb>& db, int categoryId);

  // The low-stock flag of the calling thread (off until set): the delivery
  // sets it around the update of a card it delivered, so that only deliveries
  // raise low-stock notices, whatever other threads change meanwhile.
  void setLowStockFlag(bool on);
  bool lowStockFlag() const;

  // The mark of a card delivered with a marketplace order:
  // "已发货：订单号：" + the order number.
  static std::string deliveredMark(const std::string& orderNumber);
  // The mark of a card reserved for a delivery still in flight (the order at
  // status 3): "发货中：订单号：" + the order number. Such a card is neither
  // unsent nor delivered yet.
  static std::string reservedMark(const std::string& orderNumber);
  // What every reserved mark starts with.
  static std::string reservedPrefix();

  // Whether `ids` is one or more decimal ids separated by single commas.
  static bool isIdList(const std::string& ids);
  // The ids of such a list, in order; an id too long for a number is left
  // out. Raises Exception for any other text or more than kMaxRemovedIds ids.
  static std::vector<std::int64_t> parseIdList(const std::string& ids);

 private:
  Item() = default;

  // The category's card counts: all, and unsent.
  struct Counts {
    int total = 0;
    int unsent = 0;
  };
  Counts counts(const std::shared_ptr<IDb>& db, int categoryId);
};

}  // namespace Quorvel
