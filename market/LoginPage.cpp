#include "market/LoginPage.h"

#include <vector>

#include "base/Charset.h"
#include "base/Html.h"
#include "market/MarketHosts.h"
#include "market/PageText.h"

namespace Quorvel {

namespace {

// Where the marketplace's own message stands on a refused login.
std::string messagePattern() {
  return "<div id=\"J_Message\"  class=\"login-msg msg\">(.+?)</div>.*" + quotePattern(gbk("<!--登录的错误信息结束-->"));
}

// The marketplace login page's address in a page, on either scheme, with any
// query it carries: the whole address is replaced, so that nothing is left
// hanging after the launch key of the local address.
std::string loginAddressPattern(const std::string& loginPage) {
  const size_t scheme = loginPage.find("://");
  const size_t path = loginPage.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  const std::string base = path == std::string::npos ? loginPage : loginPage.substr(0, path);
  const std::string rest = path == std::string::npos ? std::string() : loginPage.substr(path);
  return MarketHosts::hostPattern(base) + quotePattern(rest) + "(?:\\?[^\"'<>\\s]*)?";
}

bool isGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Markup to plain text: tags dropped, the common entities decoded, runs of
// white space folded to one space, cut at a character boundary.
std::string plainText(const std::string& markup, std::size_t maxBytes) {
  std::string text;
  bool inTag = false;
  for (size_t i = 0; i < markup.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(markup[i]);
    if (isGbkLead(c) && i + 1 < markup.size()) {
      if (!inTag) text.append(markup, i, 2);
      ++i;
      continue;
    }
    if (inTag) {
      inTag = c != '>';
      continue;
    }
    if (c == '<') {
      inTag = true;
      text += ' ';
      continue;
    }
    text += static_cast<char>(c);
  }
  static const std::vector<std::pair<std::string, std::string>> kEntities = {
      {"&nbsp;", " "}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, replacement] : kEntities) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + replacement.size())) {
      text.replace(at, entity.size(), replacement);
    }
  }
  std::string folded;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t width = isGbkLead(c) && i + 1 < text.size() ? 2 : 1;
    const bool blank = width == 1 && (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v');
    if (blank) {
      if (!folded.empty() && folded.back() != ' ') folded += ' ';
      continue;
    }
    if (folded.size() + width > maxBytes) break;
    folded.append(text, i, width);
    i += width - 1;
  }
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  return folded;
}

}  // namespace

bool showsLoginBox(const std::string& page) { return containsText(gbk("标准登录框"), page); }

std::string loginFailedText() { return gbk("登录失败！"); }

std::string loginScriptBlock(const LoginPageAddresses& addresses, const std::string& loginInfo) {
  const std::string& maker = addresses.makerBase;
  const std::string scripts = "/vendara2012/" + std::to_string(kLoginScriptVersion);
  std::string block;
  block += "<script src=\"";
  block += addresses.scriptUtf8 + maker + "/js/jquery-1.8.0.min.js";
  block += "\" charset=\"utf-8\" ></script><script type=\"text/javascript\" src=\"";
  block += addresses.scriptUtf8 + maker + "/js/jquery-ui-1.8.23.custom.min.js";
  block += "\" charset=\"utf-8\" ></script><link rel=\"stylesheet\" type=\"text/css\" href=\"";
  block += maker + "/image/css/flick/jquery-ui-1.8.23.custom.css";
  block += "\" charset=\"utf-8\"  /><script  src=\"";
  block += addresses.scriptGbk + maker + scripts + "/js/login.js";
  block += "\"></script><script>var loginInfo=";
  block += loginInfo;
  block += ";</script></head>";
  return block;
}

std::string rewriteLoginPage(const std::string& page, const LoginPageAddresses& addresses,
                             const std::string& loginInfo) {
  std::string rewritten = regexReplace("if\\(window\\.top !== window\\.self\\)", "if ( false )", page);
  rewritten = regexReplace(loginAddressPattern(addresses.marketLoginPage), addresses.localLogin, rewritten);
  rewritten = regexReplace("name=\"longLogin\"", "name=\"longLogin\" checked=\"checked\"", rewritten);
  return regexReplace("</head>", loginScriptBlock(addresses, loginInfo), rewritten);
}

std::string loginCloseScript(const std::string& makerBase) {
  return "<script>window.location='" + makerBase + "/vendara2012/" + std::to_string(kLoginScriptVersion) +
         "/loginClose.html';</script>";
}

std::string classifyLoginFailure(const std::string& answer) {
  if (containsText(gbk("您输入的密码和账户名不匹配，请重新输入"), answer)) return gbk("密码错误");
  if (containsText(gbk("为了您的账号安全，请输入验证码。"), answer)) return loginFailedText();
  std::vector<std::string> groups;
  if (regexMatch(messagePattern(), answer, groups)) {
    std::string message = plainText(groups[1], kMaxLoginMessageBytes);
    if (!message.empty()) return message;
  }
  return loginFailedText();
}

std::string loginTroublePage(const std::string& message, const std::string& retryAddress) {
  const std::string escaped = htmlEscape(message);
  return "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />"
         "<title>" + gbk("淘宝登录") + "</title></head><body><p id=\"vendara-login-trouble\">" + escaped +
         "</p><p><a href=\"" + retryAddress + "\">" + gbk("重新打开登录页") + "</a></p></body></html>";
}

}  // namespace Quorvel
