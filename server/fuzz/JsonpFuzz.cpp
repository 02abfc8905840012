// libFuzzer entry: the JSONP writer. The input is read as a tree of GBK
// strings, keys, numbers and nested arrays and objects; the answer written
// for it must be callback(JSON) in UTF-8 whose JSON is accepted by the
// strict reader and gives back every string and key converted to UTF-8 (or,
// when some text is not GBK, the failure envelope, itself strict JSON).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include <json/reader.h>
#include <json/value.h>

#include "base/Charset.h"
#include "base/Exception.h"
#include "server/ActionTable.h"
#include "server/HttpRequest.h"

namespace {

using namespace Quorvel;

// Reads a value from the bytes: a tag byte, then for strings a length byte
// and that many bytes, for containers a count byte and the members.
class TreeReader {
 public:
  TreeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  Json::Value value(int depth) {
    const uint8_t tag = byte();
    switch (depth > 6 ? tag % 4 : tag % 6) {
      case 0: return text();
      case 1: return Json::Value(static_cast<Json::Int>(static_cast<int8_t>(byte()) * 1000 + byte()));
      case 2: return Json::Value(byte() % 2 == 0);
      case 3: return Json::Value();
      case 4: {
        Json::Value array(Json::arrayValue);
        for (int count = byte() % 40; count > 0 && left(); --count) array.append(value(depth + 1));
        return array;
      }
      default: {
        Json::Value object(Json::objectValue);
        for (int count = byte() % 12; count > 0 && left(); --count) object[text()] = value(depth + 1);
        return object;
      }
    }
  }

 private:
  bool left() const { return at_ < size_; }
  uint8_t byte() { return left() ? data_[at_++] : 0; }
  std::string text() {
    size_t length = byte();
    length = std::min(length, size_ - at_);
    std::string made(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return made;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Whether `written` (strict JSON in UTF-8) holds `original` (GBK) converted.
bool sameTree(const Json::Value& original, const Json::Value& written) {
  switch (original.type()) {
    case Json::stringValue:
      return written.isString() && written.asString() == gbkToUtf8(original.asString());
    case Json::arrayValue:
      if (!written.isArray() || written.size() != original.size()) return false;
      for (Json::ArrayIndex i = 0; i < original.size(); ++i) {
        if (!sameTree(original[i], written[i])) return false;
      }
      return true;
    case Json::objectValue: {
      if (!written.isObject() || written.size() != original.size()) return false;
      for (const std::string& key : original.getMemberNames()) {
        const std::string utf8 = gbkToUtf8(key);
        const Json::Value* member = written.find(utf8.data(), utf8.data() + utf8.size());
        if (!member || !sameTree(original[key], *member)) return false;
      }
      return true;
    }
    case Json::intValue:
      return written.isIntegral() && written.asLargestInt() == original.asLargestInt();
    default:
      return original.type() == written.type() && original == written;
  }
}

Json::Value strictlyRead(const std::string& json) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(json.data(), json.data() + json.size(), &value, &errors)) __builtin_trap();
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TreeReader tree(data, size);
  Json::Value original(Json::objectValue);
  original["LIST"] = tree.value(0);
  original["SUCCESS"] = 1;

  HttpRequest request;
  request.query["callback"] = "cb";
  Reply(request).writeJsonp(original);

  const std::string& body = request.responseBody;
  if (body.size() < 5 || body.compare(0, 3, "cb(") != 0 || body.back() != ')') __builtin_trap();
  const Json::Value written = strictlyRead(body.substr(3, body.size() - 4));

  // The whole tree converts only when every text in it is GBK.
  bool convertible = true;
  try {
    std::function<void(const Json::Value&)> check = [&](const Json::Value& v) {
      if (v.isString()) gbkToUtf8(v.asString());
      if (v.isObject()) {
        for (const std::string& key : v.getMemberNames()) gbkToUtf8(key);
      }
      if (v.isArray() || v.isObject()) {
        for (const Json::Value& child : v) check(child);
      }
    };
    check(original);
  } catch (Exception) {
    convertible = false;
  }
  if (written.isMember("LIST")) {
    if (!convertible || !sameTree(original, written)) __builtin_trap();
  } else if (written["SUCCESS"].asInt() != 0 || !written["MSG"].isString()) {
    __builtin_trap();
  }
  return 0;
}
