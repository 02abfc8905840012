// ActionContext: everything a web action works on, passed to its handler:
// the request it answers, the calling thread's database connection, the
// reply it writes, and the Env the action was registered with (its clock and
// outside parties). The helpers read the request and write the reply, so a
// handler's inputs are all in its signature.
//
// Built by the api dispatch (api/ActionDispatch.h) for one action on the
// thread that runs it, and valid only while the handler runs; the
// connection is that thread's own.
#pragma once

#include <json/value.h>

#include <functional>
#include <memory>
#include <string>

#include "base/Env.h"
#include "server/ActionTable.h"
#include "server/HttpRequest.h"
#include "server/Reply.h"
#include "store/Db.h"

namespace Quorvel {

struct ActionContext {
  const HttpRequest& request;
  const std::shared_ptr<IDb> db;  // never null
  Reply& reply;
  const Env& env;

  // Parameters of the request; a missing key reads as "".
  const std::string& queryParam(const std::string& name) const { return Quorvel::queryParam(request, name); }
  const std::string& postParam(const std::string& name) const { return Quorvel::postParam(request, name); }
  bool hasPostParam(const std::string& name) const { return request.post.count(name) != 0; }

  // The reply's writers (server/Reply.h).
  void setHeader(const std::string& name, const std::string& value) { reply.setHeader(name, value); }
  void appendBody(const std::string& text) { reply.appendBody(text); }
  void writeJsonp(const Json::Value& value) { reply.writeJsonp(value); }
  void writeStyledJsonp(const std::function<std::string()>& styled) { reply.writeStyledJsonp(styled); }
  void answerJsonp(Json::Value answer, const std::function<void(Json::Value&)>& work, const ActionGuard& guard = {}) {
    reply.answerJsonp(std::move(answer), work, guard);
  }
};

using ContextHandler = std::function<void(ActionContext& context)>;

}  // namespace Quorvel
