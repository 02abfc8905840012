#include "port/ProgramNames.h"

namespace Quorvel::port {

const char* const kMainProgram = "Vendara 2012.exe";
const char* const kUpdaterProgram = "Refitter.exe";
const char* const kUpdaterStaged = "Refitter._exe";

// Found by the shell: Chrome, Firefox, then Internet Explorer.
const std::vector<const char*> kBrowserPrograms = {"chrome.exe", "firefox.exe", "IEXPLORE.exe"};

}  // namespace Quorvel::port
