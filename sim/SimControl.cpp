#include "sim/SimControl.h"

#include <json/json.h>

#include <memory>

#include "base/Charset.h"
#include "base/Exception.h"
#include "sim/SimPages.h"

namespace Quorvel {

namespace {

// GBK text from the shop as UTF-8; a byte sequence that is not GBK (a note
// cut inside a character) becomes U+FFFD instead of failing the answer.
std::string utf8(const std::string& text) {
  try {
    return gbkToUtf8(text);
  } catch (Exception e) {
  }
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t len = static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
    try {
      out += gbkToUtf8(text.substr(i, len));
    } catch (Exception e) {
      out += "\xEF\xBF\xBD";
    }
    i += len;
  }
  return out;
}

std::string gbkOf(const Json::Value& value, const char* key) {
  const Json::Value& v = value[key];
  if (v.isNull()) return {};
  if (v.isString()) return utf8ToGbk(v.asString());
  if (v.isIntegral()) return std::to_string(v.asLargestInt());
  throw Exception(std::string("\"") + key + "\" must be a string", 1);
}

int intOf(const Json::Value& value, const char* key, int fallback) {
  const Json::Value& v = value[key];
  if (v.isNull()) return fallback;
  if (v.isIntegral()) return v.asInt();
  if (v.isString()) {
    try {
      return std::stoi(v.asString());
    } catch (const std::exception&) {
    }
  }
  throw Exception(std::string("\"") + key + "\" must be a number", 1);
}

bool boolOf(const Json::Value& value, const char* key, bool fallback) {
  const Json::Value& v = value[key];
  if (v.isNull()) return fallback;
  if (v.isBool()) return v.asBool();
  if (v.isIntegral()) return v.asInt() != 0;
  throw Exception(std::string("\"") + key + "\" must be true or false", 1);
}

Json::Value parse(const std::string& body) {
  Json::Value root(Json::objectValue);
  if (body.empty()) return root;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) {
    throw Exception("the request body is not JSON: " + errors, 1);
  }
  if (!root.isObject()) throw Exception("the request body must be a JSON object", 1);
  return root;
}

std::string write(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value) + "\n";
}

Json::Value itemJson(const SimItem& item) {
  Json::Value v;
  v["id"] = item.id;
  v["title"] = utf8(item.title);
  v["price"] = item.price;
  v["picture"] = utf8(item.picture);
  return v;
}

Json::Value faultsJson(const SimFaults& f) {
  Json::Value v;
  v["empty_answers"] = f.emptyAnswers;
  v["slow_ms"] = f.slowMillis;
  v["redirect_loop"] = f.redirectLoop;
  v["login_everywhere"] = f.loginEverywhere;
  v["refuse_consign"] = f.refuseConsign;
  v["bare_consign_form"] = f.bareConsignForm;
  v["drop_memo_form"] = f.dropMemoForm;
  v["drop_post_answers"] = f.dropPostAnswers;
  v["consign_answer_delay_ms"] = f.consignAnswerDelayMillis;
  return v;
}

}  // namespace

SimControl::SimControl(SimShop& shop, std::string base) : shop_(shop), base_(std::move(base)) {}

namespace {

Json::Value orderJson(const SimOrder& order, const std::string& base) {
  Json::Value v;
  v["order_id"] = order.id;
  v["buyer"] = utf8(order.buyer);
  v["email"] = utf8(order.email);
  v["ww"] = utf8(order.ww);
  v["alipay_id"] = order.alipayId;
  v["state"] = order.state;
  v["state_text"] = utf8(SimPages::stateText(order.state));
  v["archive"] = order.archive;
  v["rated"] = order.rated;
  v["memo"] = utf8(order.memo);
  v["memo_flag"] = order.memoFlag;
  v["detail_url"] = base + "/trade/detail/trade_item_detail.htm?bizOrderId=" + order.id;
  Json::Value lines(Json::arrayValue);
  for (const SimLine& line : order.lines) {
    Json::Value l;
    l["item_id"] = line.itemId;
    l["title"] = utf8(line.title);
    l["price"] = line.price;
    l["num"] = line.num;
    l["trade_id"] = line.snapshotId;
    lines.append(l);
  }
  v["lines"] = lines;
  return v;
}

SimOrderRequest orderSpec(const Json::Value& in) {
  SimOrderRequest wanted;
  wanted.buyer = gbkOf(in, "buyer");
  wanted.email = gbkOf(in, "email");
  wanted.ww = gbkOf(in, "ww");
  wanted.state = intOf(in, "state", kSimPaid);
  wanted.archive = boolOf(in, "archive", false);
  if (in.isMember("lines")) {
    if (!in["lines"].isArray()) throw Exception("\"lines\" must be an array", 1);
    for (const Json::Value& line : in["lines"]) {
      if (!line.isObject()) throw Exception("every line must be an object", 1);
      wanted.lines.emplace_back(gbkOf(line, "item_id"), intOf(line, "num", 1));
    }
  } else if (in.isMember("item_id")) {
    wanted.lines.emplace_back(gbkOf(in, "item_id"), intOf(in, "num", 1));
  }
  return wanted;
}

}  // namespace

SimControl::Answer SimControl::handle(const std::string& method, const std::string& path, const std::string& body) {
  std::string what = path.substr(std::string(kPrefix).size());
  bool post = method == "POST";
  Json::Value out(Json::objectValue);
  try {
    Json::Value in = post ? parse(body) : Json::Value(Json::objectValue);
    if (what == "state" && !post) {
      out["account"] = utf8(shop_.account());
      out["password"] = utf8(shop_.password());
      out["open"] = shop_.open();
      out["captcha"] = shop_.captcha();
      out["captcha_code"] = shop_.captchaCode();
      out["sessions"] = shop_.sessionCount();
      out["consign_variant"] = shop_.consignVariant();
      out["goods_page_size"] = shop_.goodsPageSize();
      out["archive_prefix"] = shop_.archivePrefix();
      out["faults"] = faultsJson(shop_.faults());
      out["items"] = Json::Value(Json::arrayValue);
      for (const SimItem& item : shop_.items()) out["items"].append(itemJson(item));
      out["orders"] = Json::Value(Json::arrayValue);
      for (const SimOrder& order : shop_.orders()) out["orders"].append(orderJson(order, base_));
    } else if (what == "items" && post) {
      out["item"] = itemJson(shop_.addItem({gbkOf(in, "id"), gbkOf(in, "title"), gbkOf(in, "price"), gbkOf(in, "picture")}));
    } else if (what == "orders" && post) {
      out["order"] = orderJson(shop_.addOrder(orderSpec(in)), base_);
    } else if (what == "order_state" && post) {
      const bool done = in.isMember("after_requests")
                            ? shop_.scheduleStateChange(gbkOf(in, "order_id"), intOf(in, "state", 0),
                                                        intOf(in, "after_requests", 0))
                            : shop_.setOrderState(gbkOf(in, "order_id"), intOf(in, "state", 0));
      if (!done) throw Exception("no such order, or not a state", 1);
    } else if (what == "logout" && post) {
      shop_.endSessions();
    } else if (what == "consigned" && !post) {
      out["consigned"] = Json::Value(Json::arrayValue);
      for (const SimConsignment& c : shop_.consignments()) {
        Json::Value v;
        v["order_id"] = c.orderId;
        v["note"] = utf8(c.note);
        v["posted_to"] = utf8(c.postedTo);
        v["note_bytes"] = static_cast<Json::UInt64>(c.note.size());
        Json::Value fields(Json::objectValue);
        for (const auto& [name, value] : c.fields) fields[utf8(name)] = utf8(value);
        v["fields"] = fields;
        out["consigned"].append(v);
      }
    } else if (what == "memos" && !post) {
      out["memos"] = Json::Value(Json::arrayValue);
      for (const SimMemo& m : shop_.memos()) {
        Json::Value v;
        v["order_id"] = m.orderId;
        v["flag"] = utf8(m.flag);
        v["memo"] = utf8(m.memo);
        out["memos"].append(v);
      }
    } else if (what == "ratings" && !post) {
      out["ratings"] = Json::Value(Json::arrayValue);
      for (const SimRating& r : shop_.ratings()) {
        Json::Value v;
        v["trade_id"] = r.tradeId;
        v["rating"] = utf8(r.rating);
        v["comment"] = utf8(r.comment);
        out["ratings"].append(v);
      }
    } else if (what == "chats" && !post) {
      out["chats"] = Json::Value(Json::arrayValue);
      for (const std::string& touid : shop_.chats()) out["chats"].append(utf8(touid));
    } else if (what == "faults") {
      if (post) {
        SimFaults f = shop_.faults();
        f.emptyAnswers = boolOf(in, "empty_answers", f.emptyAnswers);
        f.slowMillis = intOf(in, "slow_ms", f.slowMillis);
        f.redirectLoop = boolOf(in, "redirect_loop", f.redirectLoop);
        f.loginEverywhere = boolOf(in, "login_everywhere", f.loginEverywhere);
        f.refuseConsign = boolOf(in, "refuse_consign", f.refuseConsign);
        f.bareConsignForm = boolOf(in, "bare_consign_form", f.bareConsignForm);
        f.dropMemoForm = boolOf(in, "drop_memo_form", f.dropMemoForm);
        f.dropPostAnswers = boolOf(in, "drop_post_answers", f.dropPostAnswers);
        f.consignAnswerDelayMillis = intOf(in, "consign_answer_delay_ms", f.consignAnswerDelayMillis);
        shop_.setFaults(f);
      }
      out["faults"] = faultsJson(shop_.faults());
    } else if (what == "settings" && post) {
      if (in.isMember("consign_variant")) shop_.setConsignVariant(intOf(in, "consign_variant", 1));
      if (in.isMember("goods_page_size")) shop_.setGoodsPageSize(intOf(in, "goods_page_size", 1));
      if (in.isMember("open")) shop_.setOpen(boolOf(in, "open", false));
      if (in.isMember("archive_prefix")) shop_.setArchivePrefix(gbkOf(in, "archive_prefix"));
      if (in.isMember("captcha")) shop_.setCaptcha(boolOf(in, "captcha", false));
      if (in.isMember("consign_dummy")) {
        shop_.setConsignDummy(in["consign_dummy"].isNull() ? std::nullopt
                                                           : std::optional<std::string>(gbkOf(in, "consign_dummy")));
      }
      out["open"] = shop_.open();
      out["captcha"] = shop_.captcha();
      out["consign_variant"] = shop_.consignVariant();
      out["goods_page_size"] = shop_.goodsPageSize();
      out["archive_prefix"] = shop_.archivePrefix();
      out["consign_dummy"] = shop_.consignDummy() ? Json::Value(utf8(*shop_.consignDummy())) : Json::Value();
    } else {
      Json::Value error;
      error["ok"] = false;
      error["error"] = "no control request " + method + " " + path;
      return {404, write(error)};
    }
  } catch (Exception e) {
    Json::Value error;
    error["ok"] = false;
    error["error"] = utf8(e.message());
    return {400, write(error)};
  }
  out["ok"] = true;
  return {200, write(out)};
}

}  // namespace Quorvel
