#include "port/ProgramNames.h"

namespace Quorvel::port {

const char* const kMainProgram = "Vendara 2012.exe";
const char* const kUpdaterProgram = "Refitter.exe";
const char* const kUpdaterStaged = "Refitter._exe";

}  // namespace Quorvel::port
