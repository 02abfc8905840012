// A message shown to the user at start-up failures and by the updater. Texts
// are GBK, like all of the program's own text. On a console system the caption
// and text go to standard error (as UTF-8).
#pragma once

#include <string>

namespace Quorvel::port {

void showMessageBox(const std::string& caption, const std::string& text);

}  // namespace Quorvel::port
