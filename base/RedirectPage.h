// The small page that sends a browser on to another address. The program
// opens the web UI by handing the browser such a page in a private file, so
// that the address with the launch key never appears in a command line,
// which every user of the machine can read.
//
// Pure function; any thread.
#pragma once

#include <string>

namespace Quorvel {

// An HTML page that replaces itself with `address` as soon as it loads, with
// a link to it for a browser that runs no scripts. `address` is escaped for
// the attribute, the text and the script it appears in.
std::string redirectPage(const std::string& address);

}  // namespace Quorvel
