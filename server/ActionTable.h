// The web API's action table: action names mapped to the handlers the
// program installed, and the dispatch of a request to the one it names.
//
// The server knows nothing of what a handler does: it hands it the request
// and a Reply to write the answer through. Most handlers run one at a time
// on the server thread; those registered as waiting on outside parties (the
// marketplace, the mail relay, IM windows) run one at a time on the server's
// outside worker (server/OutsideWorker.h), so that the others keep answering
// meanwhile. Register handlers before the server thread starts (the table
// itself takes no lock). The web actions register through api/ActionDispatch.h.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "server/HttpRequest.h"
#include "server/Reply.h"

namespace Quorvel {

using RequestHandler = std::function<void(const HttpRequest& request, Reply& reply)>;

// Where an action runs.
enum class ActionPlace {
  kServerThread,  // quick local work: the database, the settings, the daemon's state
  kOutsideWorker,  // waits on an outside party
};

struct Action {
  RequestHandler run;
  ActionPlace place = ActionPlace::kServerThread;
};
using ActionTable = std::unordered_map<std::string, Action>;

// Adds `name` to the program's table of actions (names are compared
// exactly, case included), replacing any action of that name.
void registerHandler(const std::string& name, RequestHandler handler,
                     ActionPlace place = ActionPlace::kServerThread);

// Where the action `request` names runs; an unknown one is answered on the
// server thread.
ActionPlace placeOf(HttpRequest& request);

// Runs the action named by the query parameter `do` on `request`, after giving
// the response its fixed headers; an unknown action gets "<h2>Bad Request!</h2>".
// A `callback` parameter that is not a plain script name (isCallbackName),
// an empty one included, is answered with status 400 and kBadCallbackBody,
// and no action runs.
// Sets "Content-Length". Whatever a handler lets escape (an Exception, a
// standard exception or anything else) is answered with the failure
// envelope (answerFailure, the message as sellerMessage shows it), so the
// server keeps its port and the page keeps working; nothing escapes.
void dispatchRequest(HttpRequest& request);

// Answers `request` with the JSONP failure envelope ("SUCCESS": 0 and
// `message`), or with status 400 when its callback is refused; used for a
// request that cannot reach its action or whose action failed.
void answerFailure(HttpRequest& request, const std::string& message);

// A JSONP callback the page may name: a letter, "_" or "$", then letters,
// digits, "_", "$" or ".", kMaxCallbackLength characters at most.
inline constexpr std::size_t kMaxCallbackLength = 128;
bool isCallbackName(const std::string& name);

// Sets the fixed response headers and clears the body.
void startResponse(HttpRequest& request);

// Sets "Content-Length" to the body's byte count.
void finishResponse(HttpRequest& request);

// Parameters of `request`; a missing key reads as "".
const std::string& queryParam(const HttpRequest& request, const std::string& name);
const std::string& postParam(const HttpRequest& request, const std::string& name);
// A decimal integer read the way a stream reads it (leading white space
// skipped); a text that does not start with a number gives 0.
int toNumber(const std::string& text);

// The body of a request that names no known action.
inline constexpr const char* kBadRequestBody = "<h2>Bad Request!</h2>";
// The body of the 400 answer to a refused callback.
inline constexpr const char* kBadCallbackBody = "<h2>Bad Request: the callback is not a script name</h2>";
// The message of a failure that is neither an Exception nor a standard
// exception: "本地程序出现未知错误，请重试。" (UTF-8 here; answered as GBK).
inline constexpr const char* kUnknownFailureUtf8 = "本地程序出现未知错误，请重试。";

}  // namespace Quorvel
