#include "api/ItemActions.h"

#include <algorithm>

#include "api/ActionDispatch.h"
#include "api/CardPageJson.h"
#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "store/CardImport.h"
#include "store/Category.h"
#include "store/Db.h"
#include "store/Savepoint.h"
#include "store/WriteTransaction.h"

namespace Quorvel {

Json::Value cardJson(const CardRecord& card) {
  // Static names are stored without a copy of their own.
  Json::Value json(Json::objectValue);
  json[Json::StaticString("id")] = card.id;
  json[Json::StaticString("cg_id")] = card.cg_id;
  json[Json::StaticString("data1")] = card.data1;
  json[Json::StaticString("data2")] = card.data2;
  json[Json::StaticString("data3")] = card.data3;
  json[Json::StaticString("send_order_id")] = card.send_order_id;
  return json;
}

namespace {

constexpr std::size_t kMaxCardFieldBytes = 2000;

// The post parameter `name`, refused when longer than kMaxCardFieldBytes.
std::string cardField(const ActionContext& context, const char* name, const char* label) {
  std::string text = context.postParam(name);
  if (text.size() > kMaxCardFieldBytes) {
    throw Exception(gbk(label) + gbk("太长（最多 ") + std::to_string(kMaxCardFieldBytes) + gbk(" 字节），未保存。"));
  }
  return text;
}

// cg_id (a stored category), data1 (not empty), data2, data3 and
// send_order_id from the request.
CardRecord cardOfRequest(const ActionContext& context) {
  CardRecord card;
  card.cg_id = requireCategory(context, "cg_id");
  card.data1 = cardField(context, "data1", "卡号");
  if (card.data1.find_first_not_of(" \t") == std::string::npos) throw Exception(gbk("请填写卡号，未保存。"));
  card.data2 = cardField(context, "data2", "密码");
  card.data3 = cardField(context, "data3", "附加内容");
  card.send_order_id = cardField(context, "send_order_id", "发货标记");
  return card;
}

// The category id must be digits; every number is then raised to at least 1;
// a page past the last shows the last page, and a category without cards
// answers page 0.
CardPage readListPage(ActionContext& context) {
  const int categoryId = std::max(requireId(context, "cg_id"), 1);
  const int pageSize = std::max(toNumber(context.postParam("page_num")), 1);
  int page = std::max(toNumber(context.postParam("page")), 1);
  std::shared_ptr<Item> store = Item::instance();
  // The count and the page are read from one snapshot, so the pages fit the
  // cards listed whatever other threads change meanwhile.
  Savepoint snapshot(context.db);
  const int cards = store->cardCount(context.db, categoryId);
  const int pages = Item::pagesOf(cards, pageSize);
  page = std::min(page, pages);
  CardPage result;
  result.cards = store->list(context.db, categoryId, page, pageSize, cards);
  snapshot.release();
  result.page = page;
  result.pages = pages;
  result.pageSize = pageSize;
  return result;
}

// A card reserved for an order in flight ("发货中：…") belongs to that
// delivery, and a sent one is the record of what a buyer got: the page may
// neither change nor delete them. `doing` names the refused edit.
void refuseIfTaken(const CardRecord& stored, const char* doing) {
  if (stored.send_order_id.empty()) return;
  const bool reserved = stored.send_order_id.starts_with(Item::reservedPrefix());
  throw Exception(gbk(reserved ? "这张卡密正在发货中（" : "这张卡密已经发出（") + stored.send_order_id +
                  gbk(reserved ? "），不能" : "），是发货记录，不能") + gbk(doing) + gbk("。"));
}

// Only the delivery marks a card reserved.
void refuseReservedMark(const CardRecord& card) {
  if (card.send_order_id.starts_with(Item::reservedPrefix())) {
    throw Exception(gbk("“发货中”标记只能由自动发货写入，未保存。"));
  }
}

void addCard(ActionContext& context, Json::Value&) {
  CardRecord card = cardOfRequest(context);
  refuseReservedMark(card);
  Item::instance()->add(context.db, card);
}

void removeCard(ActionContext& context, Json::Value&) {
  const int id = requireId(context, "id");
  // The look and the delete in one write transaction: a delivery cannot
  // reserve the card in between.
  WriteTransaction unit(context.db);
  refuseIfTaken(Item::instance()->get(context.db, id), "删除");
  Item::instance()->remove(context.db, id);
  unit.commit();
}

// The store refuses a list that is not decimal ids and commas, with a message
// the page shows; a list naming a reserved or sent card is refused whole.
void removeCards(ActionContext& context, Json::Value&) {
  const std::string& ids = context.postParam("id_str");
  const std::vector<std::int64_t> parsed = Item::parseIdList(ids);
  const std::shared_ptr<IDb>& db = context.db;
  WriteTransaction unit(db);
  int taken = 0;
  for (std::size_t first = 0; first < parsed.size(); first += Item::kIdsPerStatement) {
    const std::size_t size = std::min(Item::kIdsPerStatement, parsed.size() - first);
    std::string text = "select count(*) as `num` from `items` where `send_order_id`<>'' and `id` in (?";
    for (std::size_t k = 1; k < size; ++k) text += ",?";
    auto sql = std::make_shared<SQL>(text + ")");
    for (std::size_t k = first; k < first + size; ++k) sql->bind(parsed[k]);
    auto rows = db->query(sql);
    if (rows->next()) taken += rows->intAt(0);
  }
  if (taken > 0) {
    throw Exception(gbk("选中的卡密中有 ") + std::to_string(taken) +
                    gbk(" 张正在发货中或已经发出，不能删除；没有删除任何卡密。"));
  }
  Item::instance()->removeMany(db, ids);
  unit.commit();
}

// Every field from the request, none merged from the stored card.
void updateCard(ActionContext& context, Json::Value&) {
  const int id = requireId(context, "id");
  CardRecord card = cardOfRequest(context);
  card.id = id;
  refuseReservedMark(card);
  WriteTransaction unit(context.db);
  refuseIfTaken(Item::instance()->get(context.db, id), "修改");
  Item::instance()->update(context.db, card);
  unit.commit();
}

// The lines of `lines` (text), or of `lines_b64` (each line's UTF-8 in
// base64, lines separated by ","; a line GBK cannot store is skipped alone),
// as cards of the category `cg_id`, split at `sep`, in one transaction.
// Without `batch` the import starts a batch; with a batch number it goes on
// with that batch (the later parts of one import). "BATCH" answers it. The report lists at most
// kMaxReported skipped lines (the first ones); "SKIPPED_NUM" counts them all.
constexpr std::size_t kMaxReported = 1000;

void importCards(ActionContext& context, Json::Value& reply) {
  const int categoryId = requireCategory(context, "cg_id");
  const CardSeparator separator = CardImport::separatorNamed(context.postParam("sep"));
  const SplitCards split = context.postParam("lines_b64").empty() ? CardImport::split(context.postParam("lines"), separator)
                                                          : CardImport::splitEncoded(context.postParam("lines_b64"), separator);
  if (split.cards.empty() && split.skipped.empty()) throw Exception(gbk("没有要导入的卡密：每行一张卡密。"));
  const int batch = context.postParam("batch").empty() ? 0 : requireId(context, "batch");
  const ImportReport report = CardImport::run(context.db, categoryId, split, batch);
  reply["BATCH"] = report.batch;
  Json::Value skipped(Json::arrayValue);
  for (std::size_t k = 0; k < report.skipped.size() && k < kMaxReported; ++k) {
    const SkippedCard& line = report.skipped[k];
    Json::Value row(Json::objectValue);
    row["LINE"] = line.line;
    row["DATA1"] = line.data1;
    row["DATA2"] = line.data2;
    row["REASON"] = line.reason;
    skipped.append(std::move(row));
  }
  reply["IMPORTED"] = report.imported;
  reply["SKIPPED"] = std::move(skipped);
  reply["SKIPPED_NUM"] = static_cast<Json::UInt64>(report.skipped.size());
}

// Deletes the unsent cards of the import `batch`: {"DELETED", "KEPT" (cards
// of the batch already reserved or sent, left alone), "CG_ID"}.
void removeBatch(ActionContext& context, Json::Value& reply) {
  const BatchRemoval removal = CardImport::removeBatch(context.db, requireId(context, "batch"));
  reply["DELETED"] = removal.removed;
  reply["KEPT"] = removal.kept;
  reply["CG_ID"] = removal.categoryId;
}

constexpr std::size_t kMaxQueryBytes = 100;
constexpr int kMaxPageSize = 1000;

// Cards whose number contains `q`, in one category (`cg_id`) or in all; the
// paging of "lst", with at most kMaxPageSize cards a page.
CardPage readSearchPage(ActionContext& context) {
  const std::string text = context.postParam("q");
  if (text.empty()) throw Exception(gbk("请输入要搜索的卡号。"));
  if (text.size() > kMaxQueryBytes) {
    throw Exception(gbk("搜索的卡号太长（最多 ") + std::to_string(kMaxQueryBytes) + gbk(" 字节）。"));
  }
  const int categoryId = context.postParam("cg_id").empty() ? 0 : requireId(context, "cg_id");
  const int pageSize = std::clamp(toNumber(context.postParam("page_num")), 1, kMaxPageSize);
  int page = std::max(toNumber(context.postParam("page")), 1);
  std::shared_ptr<Item> store = Item::instance();
  Savepoint snapshot(context.db);  // the count and the page from one state
  const int cards = store->searchCount(context.db, text, categoryId);
  const int pages = Item::pagesOf(cards, pageSize);
  page = std::min(page, pages);
  CardPage result;
  result.cards = store->search(context.db, text, categoryId, page, pageSize, cards);
  snapshot.release();
  result.page = page;
  result.pages = pages;
  result.pageSize = pageSize;
  return result;
}

// Answers a page of cards read by `read`, its failures as every sub-action's.
void answerCardPage(ActionContext& context, CardPage (*read)(ActionContext&)) {
  std::string failure;
  try {
    const CardPage page = read(context);
    context.writeStyledJsonp([&page] { return styledCardPage(page); });
    return;
  } catch (Exception e) {
    failure = e.message();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 0;
  reply["MSG"] = sellerMessage(failure);
  context.writeJsonp(reply);
}

}  // namespace

std::string csvField(const std::string& text) {
  // Comma, quote, CR and LF are ASCII bytes below 0x40: never part of a GBK
  // character, so a byte search finds them.
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

namespace {

// The category's unsent cards as CSV (header "data1,data2,data3", CRLF line
// ends), the first kMaxExported of them in id order; "TOTAL" counts all.
constexpr int kMaxExported = 200000;

void exportCards(ActionContext& context, Json::Value& reply) {
  const int categoryId = requireCategory(context, "cg_id");
  const std::vector<CardRecord> cards = Item::instance()->unsentCards(context.db, categoryId, kMaxExported);
  std::string csv = "data1,data2,data3\r\n";
  for (const CardRecord& card : cards) {
    csv += csvField(card.data1) + "," + csvField(card.data2) + "," + csvField(card.data3) + "\r\n";
  }
  reply["CSV"] = std::move(csv);
  reply["COUNT"] = static_cast<int>(cards.size());
  reply["TOTAL"] = std::max(Category::instance()->get(categoryId).store_num, static_cast<int>(cards.size()));
}

void item(ActionContext& context) {
  // The pages of cards are written straight to text (api/CardPageJson.h).
  const std::string& sub = context.queryParam("action");
  if (sub == "lst") return answerCardPage(context, readListPage);
  if (sub == "search") return answerCardPage(context, readSearchPage);
  static const SubActionTable table = {
      {"add", addCard},         {"del", removeCard},    {"del_more", removeCards},
      {"update", updateCard},   {"import", importCards}, {"export", exportCards},
      {"del_batch", removeBatch},
  };
  answerSubAction(context, table);
}

}  // namespace

void registerItemActions(const Env& env) { registerAction(env, "item", item); }

}  // namespace Quorvel
