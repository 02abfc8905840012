// The marketplace login page as the seller sees it through the program. The
// program fetches the marketplace's own login page and rewrites it so that the
// form is posted back to the local server (which forwards it with the
// program's cookie jar), the page may be shown inside the web UI's frame, and
// the maker's scripts and the seller's stored login data are loaded into it.
// A forwarded form whose answer still shows the login box was refused; the
// refusal is classified into a short message for the seller.
//
// Pure functions on GBK text; any thread.
#pragma once

#include <string>

namespace Quorvel {

// The version of the login scripts under the maker's service:
// "/vendara2012/1100/js/login.js" and "/vendara2012/1100/loginClose.html".
inline constexpr int kLoginScriptVersion = 1100;

// The addresses the rewritten page points at. The local ones carry the
// launch key already.
struct LoginPageAddresses {
  std::string marketLoginPage;  // the marketplace login page, as fetched
  std::string localLogin;       // the local login action ("/?do=login&token=KEY")
  std::string scriptUtf8;       // the local script proxy up to its "url=" ("...&token=KEY&url=")
  std::string scriptGbk;        // the same for scripts in GBK
  std::string makerBase;        // the maker's service, without a trailing "/"
};

// Whether a marketplace page shows its login box ("标准登录框"): the seller is
// not logged in, or a forwarded login was refused.
bool showsLoginBox(const std::string& page);

// The login page with, in this order: the frame-busting test disabled, every
// address of the marketplace login page replaced by the local login action,
// the long-login box ticked, and the script block put before every "</head>".
// `loginInfo` is the script text of the seller's stored login data.
std::string rewriteLoginPage(const std::string& page, const LoginPageAddresses& addresses,
                             const std::string& loginInfo);

// What goes before "</head>": jQuery and jQuery UI through the local script
// proxy (UTF-8), the jQuery UI style sheet from the maker's service, the
// maker's login script through the proxy (GBK) and `var loginInfo=`.
// Ends with "</head>".
std::string loginScriptBlock(const LoginPageAddresses& addresses, const std::string& loginInfo);

// The answer to an accepted login: sends the frame to the maker's close page.
std::string loginCloseScript(const std::string& makerBase);

// The seller's message for a refused login: "密码错误" when the marketplace
// says the password does not match, the default "登录失败！" when it asks for
// a verification code, else the marketplace's own message (its tags dropped,
// white space folded, at most kMaxLoginMessageBytes), else the default.
inline constexpr std::size_t kMaxLoginMessageBytes = 200;
std::string classifyLoginFailure(const std::string& answer);

// The default message of a refused login, "登录失败！" (GBK).
std::string loginFailedText();

// A short GBK page for a login that could not reach the marketplace: the
// message and a link that opens the login page again.
std::string loginTroublePage(const std::string& message, const std::string& retryAddress);

}  // namespace Quorvel
