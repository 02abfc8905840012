#include "port/EmbeddedBrowser.h"

namespace Quorvel::port {

namespace {

// The program's window on this system is a console shell without a browser
// control; with no IM client either (see WindowSystem), a link loaded here
// could open nothing.
class NoEmbeddedBrowser : public EmbeddedBrowser {
 public:
  void navigate(const std::string&) override {}
};

}  // namespace

std::shared_ptr<EmbeddedBrowser> EmbeddedBrowser::makeProcessWide() { return std::make_shared<NoEmbeddedBrowser>(); }

}  // namespace Quorvel::port
