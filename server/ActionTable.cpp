#include "server/ActionTable.h"

#include <cctype>
#include <charconv>

#include <sstream>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "base/ProcessWide.h"
#include "server/StyledJson.h"
#include "store/Db.h"

namespace Quorvel {

thread_local HttpRequest* currentRequest = nullptr;

ActionTable& actionTable() { return *processWide<ActionTable>(); }

void registerAction(const std::string& name, ActionHandler handler, ActionPlace place) {
  actionTable()[name] = Action{std::move(handler), place};
}

ActionPlace placeOf(HttpRequest& request) {
  auto found = actionTable().find(request.query["do"]);
  if (found == actionTable().end()) return ActionPlace::kServerThread;
  return found->second.place;
}

void startResponse(HttpRequest& request) {
  request.responseStatus = HttpRequest::kStatusOk;
  request.responseBody.clear();
  request.responseHeaders.clear();
  request.responseHeaders["Content-Type"] = "text/html;charset=gbk";
  request.responseHeaders["Server"] = "Vendara 1.0 Local Server Daemon";
  request.responseHeaders["Connection"] = "Closed";
}

void finishResponse(HttpRequest& request) {
  request.responseHeaders["Content-Length"] = std::to_string(request.responseBody.size());
}

bool isCallbackName(const std::string& name) {
  // ASCII only, whatever the locale says a letter is.
  auto first = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$'; };
  auto next = [&first](char c) { return first(c) || (c >= '0' && c <= '9') || c == '.'; };
  if (name.empty() || name.size() > kMaxCallbackLength || !first(name[0])) return false;
  for (char c : name) {
    if (!next(c)) return false;
  }
  return true;
}

namespace {

// A callback is written into the answer as script: anything but a plain name,
// an empty one included, is refused before an action runs. No callback
// parameter at all is the page's own choice and gets the bare parenthesised
// answer.
bool refuseBadCallback(HttpRequest& request) {
  auto callback = request.query.find("callback");
  if (callback == request.query.end() || isCallbackName(callback->second)) return false;
  request.responseStatus = HttpRequest::kStatusBadRequest;
  request.responseBody = kBadCallbackBody;
  finishResponse(request);
  return true;
}

}  // namespace

void dispatchRequest(HttpRequest& request) {
  const std::string action = request.query["do"];
  startResponse(request);
  if (refuseBadCallback(request)) return;
  auto found = actionTable().find(action);
  if (found != actionTable().end()) {
    currentRequest = &request;
    try {
      found->second.run();
    } catch (...) {
      resetDbForNextAction();
      throw;
    }
    // The connection stays open, but nothing an action left open (a
    // transaction, a cursor's read) reaches the next one.
    resetDbForNextAction();
  } else {
    request.responseBody = kBadRequestBody;
  }
  finishResponse(request);
}

void answerFailure(HttpRequest& request, const std::string& message) {
  startResponse(request);
  if (refuseBadCallback(request)) return;
  currentRequest = &request;
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 0;
  reply["MSG"] = message;
  writeJsonp(reply);
  finishResponse(request);
}

void setHeader(const std::string& name, const std::string& value) { currentRequest->responseHeaders[name] = value; }

void appendBody(const std::string& text) { currentRequest->responseBody += text; }

void writeJsonp(const Json::Value& value) {
  writeStyledJsonp([&value] { return styledJson(value); });
}

void writeStyledJsonp(const std::function<std::string()>& styled) {
  setHeader("Content-Type", "text/javascript;charset=utf-8;");
  const std::string callback = currentRequest->query["callback"];
  try {
    currentRequest->responseBody = gbkToUtf8(callback + "(" + styled() + ")");
  } catch (Exception e) {
    // A value that is not GBK cannot be shown; say so instead of sending
    // bytes the page would misread. The message and the callback are ASCII.
    Json::Value failure(Json::objectValue);
    failure["SUCCESS"] = 0;
    failure["MSG"] = "The answer holds text that is not valid GBK: " + e.message();
    currentRequest->responseBody = callback + "(" + styledJson(failure) + ")";
  }
}

std::string& queryParam(const std::string& name) { return currentRequest->query[name]; }

std::string& postParam(const std::string& name) { return currentRequest->post[name]; }

int toNumber(const std::string& text) {
  // As a stream reads an int: blanks skipped, one sign, decimal digits up to
  // the first other byte; nothing readable or out of range gives 0.
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  if (begin < end && *begin == '+') {
    ++begin;
    if (begin == end || !std::isdigit(static_cast<unsigned char>(*begin))) return 0;
  }
  int value = 0;
  if (std::from_chars(begin, end, value).ec != std::errc()) return 0;
  return value;
}

void answerJsonp(Json::Value reply, const std::function<void(Json::Value&)>& work, const ActionGuard& guard) {
  auto fail = [&](const std::string& message) {
    reply["SUCCESS"] = 0;
    reply["MSG"] = sellerMessage(message);
    if (guard.onFailure) {
      try {
        guard.onFailure();
      } catch (Exception) {
        // The failure being reported matters more than a failed clean-up.
      }
    }
  };
  try {
    work(reply);
  } catch (Exception e) {
    fail(e.message());
  } catch (const std::exception& e) {
    if (!guard.catchStandard) throw;
    fail(e.what());
  }
  writeJsonp(reply);
}

}  // namespace Quorvel
