// Small pieces of HTML the program writes itself: text escaped for an
// element or an attribute, and the page that sends a browser on to another
// address. The program opens the web UI by handing the browser such a page
// in a private file, so that the address with the launch key never appears
// in a command line, which every user of the machine can read.
//
// Pure functions; any thread.
#pragma once

#include <string>

namespace Quorvel {

// `text` with & < > " ' as character references. GBK text stays whole: no
// GBK trail byte has the code of these characters.
std::string htmlEscape(const std::string& text);

// An HTML page that replaces itself with `address` as soon as it loads, with
// a link to it for a browser that runs no scripts. `address` is escaped for
// the attribute, the text and the script it appears in.
std::string redirectPage(const std::string& address);

}  // namespace Quorvel
