#include "server/ActionTable.h"

#include <cctype>
#include <charconv>

#include <iostream>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "base/ProcessWide.h"

namespace Quorvel {

namespace {

// The program's table: filled while the program starts, before the server
// thread runs, and read by it alone after that. A test's resetProcessWide
// empties it.
ActionTable& actionTable() { return *processWide<ActionTable>(); }

}  // namespace

void registerHandler(const std::string& name, RequestHandler handler, ActionPlace place) {
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

// An action that failed past its own error handling: the failure is told on
// standard output and answered in place of whatever the action began.
void answerEscaped(HttpRequest& request, const std::string& message) {
  std::cout << message << std::endl;
  answerFailure(request, sellerMessage(message));
}

}  // namespace

void dispatchRequest(HttpRequest& request) {
  const std::string action = request.query["do"];
  startResponse(request);
  if (refuseBadCallback(request)) return;
  auto found = actionTable().find(action);
  if (found == actionTable().end()) {
    request.responseBody = kBadRequestBody;
    finishResponse(request);
    return;
  }
  try {
    Reply reply(request);
    found->second.run(request, reply);
  } catch (Exception e) {
    return answerEscaped(request, e.message());
  } catch (const std::exception& e) {
    return answerEscaped(request, e.what());
  } catch (...) {
    std::cout << "unknown failure in action " << action << std::endl;
    return answerFailure(request, gbk(kUnknownFailureUtf8));
  }
  finishResponse(request);
}

void answerFailure(HttpRequest& request, const std::string& message) {
  startResponse(request);
  if (refuseBadCallback(request)) return;
  Json::Value reply(Json::objectValue);
  reply["SUCCESS"] = 0;
  reply["MSG"] = message;
  Reply(request).writeJsonp(reply);
  finishResponse(request);
}

namespace {

const std::string& paramOf(const ParamMap& params, const std::string& name) {
  static const std::string kMissing;
  auto found = params.find(name);
  return found == params.end() ? kMissing : found->second;
}

}  // namespace

const std::string& queryParam(const HttpRequest& request, const std::string& name) {
  return paramOf(request.query, name);
}

const std::string& postParam(const HttpRequest& request, const std::string& name) {
  return paramOf(request.post, name);
}

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

}  // namespace Quorvel
