#include "port/ProgramNames.h"

namespace Quorvel::port {

const char* const kMainProgram = "vendara";
const char* const kUpdaterProgram = "refitter";
const char* const kUpdaterStaged = "refitter._exe";

// A Chrome-family browser, then Firefox, then the desktop's default handler.
const std::vector<const char*> kBrowserPrograms = {"google-chrome", "chromium", "chromium-browser", "firefox", "xdg-open"};

}  // namespace Quorvel::port
