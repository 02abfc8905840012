// Reply: what an action writes its answer through. A view of the response
// part of one HttpRequest (status, headers, body), with the JSONP writers
// every action uses; it reads the request's `callback` parameter.
//
// Made by the dispatch (server/ActionTable.h) for the action it runs, on the
// thread that runs the action, and used only there while the action runs.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>

#include "server/HttpRequest.h"

namespace Quorvel {

// How answerJsonp treats failures: with catchStandard, a standard exception
// is reported like an Exception; `onFailure` runs after a failure (to roll
// back what the action began).
struct ActionGuard {
  bool catchStandard = true;
  std::function<void()> onFailure;
};

class Reply {
 public:
  explicit Reply(HttpRequest& request) : request_(request) {}

  void setHeader(const std::string& name, const std::string& value);
  void appendBody(const std::string& text);
  // Replaces the body with callback(styled JSON), converted from GBK to UTF-8.
  void writeJsonp(const Json::Value& value);
  // The same with the styled text made by `styled`, which raises Exception on
  // text that is not GBK as styledJson does (for answers written without
  // building Json values).
  void writeStyledJsonp(const std::function<std::string()>& styled);

  // The error pattern shared by the actions. `reply` arrives filled for
  // success; `work` completes it. When `work` raises an Exception (or, with
  // catchStandard, a standard exception) "SUCCESS" becomes 0 and "MSG" the
  // message (as sellerMessage in base/GbkText.h shows it), and `onFailure`
  // runs. The reply is then written with writeJsonp.
  void answerJsonp(Json::Value reply, const std::function<void(Json::Value&)>& work, const ActionGuard& guard = {});

 private:
  HttpRequest& request_;
};

}  // namespace Quorvel
