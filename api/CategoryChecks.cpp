#include "api/CategoryChecks.h"

#include <exception>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "delivery/DeliveryTexts.h"

namespace Quorvel {

namespace {

// The field's JSON value; raises naming the field when the text is not GBK
// or not a JSON object.
Json::Value objectOf(const std::string& text, const char* field, const char* example) {
  Json::Value value;
  try {
    value = Category::parseJson(text);
  } catch (Exception) {
    throw Exception(gbk(field) + gbk(" 含有无法识别的字符（不是有效的 GBK 文本），未保存。"));
  }
  if (!value.isObject()) {
    throw Exception(gbk(field) + gbk(" 必须是 JSON 对象，例如 ") + gbk(example) + gbk("，未保存。"));
  }
  return value;
}

}  // namespace

void checkName(const CategoryRecord& category) {
  const std::string& name = category.name;
  bool visible = false;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = gbkCharLength(name, at);
    const auto byte = static_cast<unsigned char>(name[at]);
    if (length == 1 && (byte < 0x20 || byte == 0x7F)) {
      throw Exception(gbk("分类名称不能含有控制字符（如换行、制表符或空字符），未保存。"));
    }
    const bool space = length == 1 ? byte == ' ' : name.compare(at, 2, "\xA1\xA1") == 0;  // "　"
    if (!space) visible = true;
    at += length;
  }
  if (!visible) throw Exception(gbk("分类名称不能为空，也不能只有空格，未保存。"));
  if (name.size() > kMaxCategoryNameBytes) {
    throw Exception(gbk("分类名称太长（最多 ") + std::to_string(kMaxCategoryNameBytes) + gbk(" 字节），未保存。"));
  }
}

void checkTemplates(const CategoryRecord& category) {
  if (category.tpl.empty()) return;
  objectOf(category.tpl, "发货模板 tpl", R"({"cardTpl":"卡号：{数据1} 密码：{数据2}","goodsTpl":"{卡密内容}"})");
  DeliveryTemplates templates;
  try {
    templates = templatesOf(category);
  } catch (const std::exception&) {
    throw Exception(gbk("发货模板 tpl 中的 cardTpl、goodsTpl 和 mailSubject 必须是文字，未保存。"));
  }
  if (templates.mailSubject.size() > kMaxMailSubjectBytes) {
    throw Exception(gbk("邮件标题太长（最多 ") + std::to_string(kMaxMailSubjectBytes) + gbk(" 字节），未保存。"));
  }
}

void checkSwitches(const CategoryRecord& category) {
  if (category.ext.empty()) return;
  const Json::Value ext = objectOf(category.ext, "分类设置 ext", R"({"ww":1,"email":0,"web":0,"limit_number":0})");
  int limit = 0;
  try {
    limit = ext["limit_number"].asInt();  // as the purchase-limit check reads it
  } catch (const std::exception&) {
    throw Exception(gbk("分类设置 ext 中的 limit_number（单件购买限制）必须是整数，未保存。"));
  }
  // A negative limit would read as "no limit": refused rather than saved.
  if (limit < 0) throw Exception(gbk("每单每件宝贝限购数量不能是负数（0 = 不限），未保存。"));
}

}  // namespace Quorvel
