// The web browser control inside the program's main window. The IM automation
// navigates it to the marketplace's web IM link, which makes the seller's IM
// client open a chat with the buyer.
//
// The program's browser is the port::EmbeddedBrowser entry of its Env
// (base/Env.h); tests put there a simulated IM client that reacts to the link. navigate is called by the
// daemon's message worker: an implementation whose control belongs to another
// thread hands the call over to that thread.
#pragma once

#include <memory>
#include <string>

namespace Quorvel::port {

class EmbeddedBrowser {
 public:
  virtual ~EmbeddedBrowser() = default;

  // The main window's control; where the program has no such control,
  // navigating loads nothing.
  static std::shared_ptr<EmbeddedBrowser> makeProcessWide();

  // Starts loading `url` (the control's Navigate with only the address) and
  // returns without waiting for the page.
  virtual void navigate(const std::string& url) = 0;
};

}  // namespace Quorvel::port
