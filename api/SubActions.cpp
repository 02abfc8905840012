#include "api/SubActions.h"

#include "base/Exception.h"
#include "base/Charset.h"

namespace Quorvel {

namespace {

// The sub-action's name as the seller's page may be shown it: printable
// ASCII only (any other byte reads "?"), at most 40 characters.
std::string shownName(const std::string& name) {
  constexpr std::size_t kShown = 40;
  std::string shown;
  for (char c : name.substr(0, kShown)) shown += (c >= 0x21 && c <= 0x7E) ? c : '?';
  if (name.size() > kShown) shown += "...";
  return shown;
}

}  // namespace

void answerSubAction(ActionContext& context, const SubActionTable& table) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  reply["MSG"] = "SUCCESS";
  const std::string& name = context.queryParam("action");
  auto found = table.find(name);
  context.answerJsonp(reply, [&](Json::Value& reply) {
    // A call that names no sub-action we know did nothing, and says so.
    if (found == table.end()) {
      if (name.empty()) throw Exception(gbk("请求缺少操作名称（action）。"));
      throw Exception(gbk("未知的操作：") + shownName(name));
    }
    found->second(context, reply);
  });
}

}  // namespace Quorvel
