// The web API: action names mapped to handlers, and what a handler uses to read
// its request and write its answer.
//
// Handlers find their request through `currentRequest`. Most run one at a
// time on the server thread; those registered as waiting on outside parties
// (the marketplace, the mail relay, IM windows) run one at a time on the
// server's outside worker (server/OutsideWorker.h), so that the others keep
// answering meanwhile. Register actions before the server thread starts (the
// table itself takes no lock).
#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <unordered_map>

#include "server/HttpRequest.h"

namespace Quorvel {

using ActionHandler = std::function<void()>;

// Where an action runs.
enum class ActionPlace {
  kServerThread,  // quick local work: the database, the settings, the daemon's state
  kOutsideWorker,  // waits on an outside party
};

struct Action {
  ActionHandler run;
  ActionPlace place = ActionPlace::kServerThread;
};
using ActionTable = std::unordered_map<std::string, Action>;

// The program's table (processWide<ActionTable>()); names are compared
// exactly, case included.
ActionTable& actionTable();
void registerAction(const std::string& name, ActionHandler handler,
                    ActionPlace place = ActionPlace::kServerThread);

// Where the action `request` names runs; an unknown one is answered on the
// server thread.
ActionPlace placeOf(HttpRequest& request);

// The request whose action is running on this thread; meaningful only inside
// a handler.
extern thread_local HttpRequest* currentRequest;

// Runs the action named by the query parameter `do` on `request`, after giving
// the response its fixed headers; an unknown action gets "<h2>Bad Request!</h2>".
// A `callback` parameter that is not a plain script name (isCallbackName),
// an empty one included, is answered with status 400 and kBadCallbackBody,
// and no action runs.
// Sets "Content-Length". An exception that a handler lets escape propagates.
void dispatchRequest(HttpRequest& request);

// Answers `request` with the JSONP failure envelope ("SUCCESS": 0 and
// `message`), or with status 400 when its callback is refused; used for a
// request that cannot reach its action.
void answerFailure(HttpRequest& request, const std::string& message);

// A JSONP callback the page may name: a letter, "_" or "$", then letters,
// digits, "_", "$" or ".", kMaxCallbackLength characters at most.
inline constexpr std::size_t kMaxCallbackLength = 128;
bool isCallbackName(const std::string& name);

// Sets the fixed response headers and clears the body.
void startResponse(HttpRequest& request);

// Sets "Content-Length" to the body's byte count.
void finishResponse(HttpRequest& request);

// Helpers for handlers, all on `currentRequest`.
void setHeader(const std::string& name, const std::string& value);
void appendBody(const std::string& text);
// Replaces the body with callback(styled JSON), converted from GBK to UTF-8.
void writeJsonp(const Json::Value& value);
// The same with the styled text made by `styled`, which raises Exception on
// text that is not GBK as styledJson does (for answers written without
// building Json values).
void writeStyledJsonp(const std::function<std::string()>& styled);

// Parameters read with subscript semantics: a missing key reads as "".
std::string& queryParam(const std::string& name);
std::string& postParam(const std::string& name);
// A decimal integer read the way a stream reads it (leading white space
// skipped); a text that does not start with a number gives 0.
int toNumber(const std::string& text);

// The error pattern shared by the actions. `reply` arrives filled for success;
// `work` completes it. When `work` raises an Exception (or, with
// catchStandard, a standard exception) "SUCCESS" becomes 0 and "MSG" the
// message (as sellerMessage in base/GbkText.h shows it), and `onFailure`
// runs (to roll back what the action began). The reply is then written with
// writeJsonp.
struct ActionGuard {
  bool catchStandard = true;
  std::function<void()> onFailure;
};
void answerJsonp(Json::Value reply, const std::function<void(Json::Value&)>& work, const ActionGuard& guard = {});

// The body of a request that names no known action.
inline constexpr const char* kBadRequestBody = "<h2>Bad Request!</h2>";
// The body of the 400 answer to a refused callback.
inline constexpr const char* kBadCallbackBody = "<h2>Bad Request: the callback is not a script name</h2>";

}  // namespace Quorvel
