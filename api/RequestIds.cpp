#include "api/RequestIds.h"

#include <charconv>

#include "base/Charset.h"
#include "base/Exception.h"
#include "store/Category.h"

namespace Quorvel {

namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

int requireId(const ActionContext& context, const std::string& name) {
  const std::string& text = context.postParam(name);
  int id = 0;
  if (allDigits(text)) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error == std::errc() && end == text.data() + text.size()) return id;
  }
  throw Exception(gbk("参数 ") + name + gbk(" 必须是只含数字的 ID，未做任何修改。"));
}

std::string requireItemId(const ActionContext& context, const std::string& name) {
  const std::string& text = context.postParam(name);
  if (allDigits(text) && text.size() <= 20) return text;
  throw Exception(gbk("参数 ") + name + gbk(" 必须是只含数字的淘宝宝贝 ID（最多 20 位），未做任何修改。"));
}

int requireCategory(const ActionContext& context, const std::string& name) {
  const int id = requireId(context, name);
  if (!Category::instance()->contains(id)) {
    throw Exception(gbk("分类不存在（ID ") + std::to_string(id) + gbk("，参数 ") + name +
                    gbk("），可能已被删除，请刷新页面后重试。未做任何修改。"));
  }
  return id;
}

}  // namespace Quorvel
