#include "port/EmbeddedBrowser.h"

namespace Quorvel::port {

namespace {

// The program's window here is the app shell's hidden window, which holds no
// WebBrowser control yet (hosting it needs an ActiveX container), so a link
// loaded here opens nothing and the IM client shows no chat.
class NoEmbeddedBrowser : public EmbeddedBrowser {
 public:
  void navigate(const std::string&) override {}
};

}  // namespace

std::shared_ptr<EmbeddedBrowser> EmbeddedBrowser::makeProcessWide() { return std::make_shared<NoEmbeddedBrowser>(); }

}  // namespace Quorvel::port
