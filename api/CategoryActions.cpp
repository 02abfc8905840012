#include "api/CategoryActions.h"

#include "api/ActionDispatch.h"
#include "api/CategoryChecks.h"
#include "api/CategoryPreview.h"
#include "api/RequestIds.h"
#include "api/SubActions.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "store/Category.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/Savepoint.h"

namespace Quorvel {

namespace {

// A failure (the table cannot be read) answers the usual envelope with
// "SUCCESS": 0 in place of the array.
void getGoodsLst(ActionContext& context) {
  const bool force = context.postParam("flush") == "1";
  const std::shared_ptr<GoodsSource> source = context.env.get<GoodsSource>();
  context.answerJsonp(Json::Value(), [&context, force, &source](Json::Value& reply) {
    reply = Goods::instance()->list(context.db, *source, force);
  });
}

// name, tpl, flg, type and ext from the request; a missing name, or a tpl or
// ext the delivery could not read, is refused before anything is written.
void readFields(const ActionContext& context, CategoryRecord& record) {
  record.name = context.postParam("name");
  record.tpl = context.postParam("tpl");
  record.flg = static_cast<CategorySwitch>(toNumber(context.postParam("flg")));
  record.type = static_cast<CategoryType>(toNumber(context.postParam("type")));
  record.ext = context.postParam("ext");
  checkName(record);
  checkTemplates(record);
  checkSwitches(record);
}

void listCategories(ActionContext&, Json::Value& reply) {
  Json::Value list;  // null when there is no category
  for (const CategoryRecord& record : Category::instance()->all()) list.append(Category::toJson(record));
  reply["LIST"] = std::move(list);
}

void addCategory(ActionContext& context, Json::Value&) {
  CategoryRecord record;
  readFields(context, record);
  Category::instance()->add(context.db, record);
}

// Refused while the category holds unsent cards; otherwise it goes with its
// bindings and its delivered cards (Category::remove).
void removeCategory(ActionContext& context, Json::Value&) { Category::instance()->remove(context.db, requireId(context, "id")); }

// The stock counters are not the request's to set: after the update they are
// taken again from the cards, so a counter refresh that ran between reading
// the record and writing it back is not undone. Both are one unit: the
// update takes the write lock first, so the count sees every card change
// committed before it and none (a delivery's) can commit between the count
// and the counters written. A unit that fails is undone whole, and the cache
// then reads back what the table kept.
void updateCategory(ActionContext& context, Json::Value&) {
  const int id = requireId(context, "id");
  std::shared_ptr<Category> categories = Category::instance();
  CategoryRecord record = categories->get(id);
  record.id = id;  // an id not stored is refused by update, naming this id
  readFields(context, record);
  try {
    Savepoint unit(context.db);
    categories->update(context.db, record);
    Item::instance()->refreshCounters(context.db, id);
    unit.release();
  } catch (...) {
    categories->load(context.db);
    throw;
  }
}

// Only a marketplace item id (digits) to a stored category.
void bindItem(ActionContext& context, Json::Value&) {
  const int categoryId = requireCategory(context, "cg_id");
  GoodsCategoryMap::instance()->bind(context.db, requireItemId(context, "item_id"), categoryId);
}

// `cg_id` is not needed (an item has one binding at most), and any item id is
// taken, so that a binding stored by an older version can still be removed.
void unbindItem(ActionContext& context, Json::Value&) {
  GoodsCategoryMap::instance()->unbind(context.db, context.postParam("item_id"));
}

void listBoundItems(ActionContext& context, Json::Value& reply) {
  Json::Value items;  // null when nothing is bound
  for (const std::string& item : GoodsCategoryMap::instance()->itemsOf(requireId(context, "cg_id"))) {
    items.append(item);
  }
  reply["ITEM_LIST"] = items;
}

// {"BINDS": {"<item id>": category id, ...}} ({} when nothing is bound).
void listAllBindings(ActionContext&, Json::Value& reply) {
  Json::Value binds(Json::objectValue);
  for (const auto& [item, categoryId] : GoodsCategoryMap::instance()->all()) binds[item] = categoryId;
  reply["BINDS"] = binds;
}

constexpr std::size_t kMaxGoodsNameBytes = 400;

// {"TEXT": the buyer text of one goods line} for the posted `tpl` and `type`,
// with the sample cards `cards` and the goods title `goods_name`.
void previewCategory(ActionContext& context, Json::Value& reply) {
  CategoryRecord record;
  record.tpl = context.postParam("tpl");
  record.type = static_cast<CategoryType>(toNumber(context.postParam("type")));
  std::string goodsName = context.postParam("goods_name");
  if (goodsName.empty()) goodsName = gbk("示例商品 话费充值卡");
  if (goodsName.size() > kMaxGoodsNameBytes) throw Exception(gbk("商品名称太长。"));
  reply["TEXT"] = previewLine(record, goodsName, previewCards(context.postParam("cards")));
}

void category(ActionContext& context) {
  static const SubActionTable table = {
      {"lst", listCategories}, {"add", addCategory},   {"del", removeCategory},     {"update", updateCategory},
      {"bind", bindItem},      {"unbind", unbindItem}, {"bindLst", listBoundItems},
      {"bindAll", listAllBindings}, {"preview", previewCategory},
  };
  answerSubAction(context, table);
}

}  // namespace

void registerCategoryActions(const Env& env) {
  // The list may be read from the marketplace first, page by page.
  registerAction(env, "getGoodsLst", getGoodsLst, ActionPlace::kOutsideWorker);
  registerAction(env, "category", category);
}

}  // namespace Quorvel
