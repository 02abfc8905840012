// libFuzzer entry: the marketplace login page on arbitrary bytes. The
// rewrite puts the script block at every "</head>" the page has and makes
// no other, and the reading of a refused login gives a message of at most
// kMaxLoginMessageBytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "market/LoginPage.h"
#include "market/fuzz/FuzzMarket.h"

namespace {

size_t countOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string page(reinterpret_cast<const char*>(data), size);
  LoginPageAddresses addresses;
  addresses.marketLoginPage = "http://127.0.0.1:18090/member/login.jhtml";
  addresses.localLogin = "http://127.0.0.1:40000/?do=login&token=KEY";
  addresses.scriptUtf8 = "http://127.0.0.1:40000/?do=getJs&charset=utf-8&token=KEY&url=";
  addresses.scriptGbk = "http://127.0.0.1:40000/?do=getJs&charset=gbk&token=KEY&url=";
  addresses.makerBase = "http://127.0.0.1:18080";
  fuzzing::allowingEngineLimits([&] {
    const std::string info = "{\"user\":\"\"}";
    const std::string rewritten = rewriteLoginPage(page, addresses, info);
    const size_t heads = countOf(page, "</head>");
    if (countOf(rewritten, "</head>") != heads) __builtin_trap();
    if (countOf(rewritten, loginScriptBlock(addresses, info)) < heads) __builtin_trap();
    const std::string message = classifyLoginFailure(page);
    if (message.empty() || message.size() > kMaxLoginMessageBytes) __builtin_trap();
  });
  return 0;
}
