#include "api/SubActions.h"

#include "server/ActionTable.h"

namespace Quorvel {

void answerSubAction(const SubActionTable& table) {
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 1;
  reply["MSG"] = "SUCCESS";
  auto found = table.find(queryParam("action"));
  answerJsonp(reply, [&](Json::Value& reply) {
    if (found != table.end()) found->second(reply);
  });
}

}  // namespace Quorvel
