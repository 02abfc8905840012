// The marketplace login through the program, and the script proxy of the
// rewritten login page:
//   "login"  a visit without post parameters shows the marketplace login page,
//            rewritten to post back here; a posted form is forwarded to the
//            marketplace with the program's own cookie jar. An accepted login
//            stores Registry "account", starts the daemon and sends the frame
//            to the maker's close page; a refused one shows the marketplace's
//            answer, rewritten again. Every visit stops the daemon first.
//   "getJs"  a script fetched through the marketplace client (ScriptProxy.h),
//            answered as text/javascript with the requested charset.
// The last login result, with its time, is kept for the status page
// (lastLoginResult).
//
// Register before the server thread starts; the actions then run on the
// server thread. runLogin and the result may be used from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Env.h"
#include "delivery/Deamon.h"
#include "server/HttpRequest.h"

namespace Quorvel {

// The outcome of the last login attempt (Registry key "loginResult").
struct LoginResult {
  bool success = false;
  std::string message;    // GBK: "登录成功", or why the login failed
  std::int64_t time = 0;  // seconds since 1970
};
std::optional<LoginResult> lastLoginResult();

// The login action's work for a request with these post parameters (none:
// a visit of the page), as an HTML page (GBK); the result's time is read from
// the clock of `env`. Holds the global lock throughout, the marketplace
// request included.
std::string runLogin(const Env& env, const ParamMap& post, Deamon& daemon);

// The `loginInfo` script value for the stored login data: compact JSON with
// the keys "auto", "pwd" and "user" in that order and a line end after it;
// "<", ">" and "&" are written as \u escapes so that no value can end the
// script element it stands in.
std::string loginInfoScript(const std::string& user, const std::string& pwd, bool autoLogin);

// A charset label the script proxy may put into its Content-Type: letters,
// digits and "-", "_", ".", ":", at most 40 characters.
bool isCharsetLabel(const std::string& label);

void registerLoginActions(const Env& env, std::shared_ptr<Deamon> daemon = Deamon::instance());

}  // namespace Quorvel
