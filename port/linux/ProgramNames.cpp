#include "port/ProgramNames.h"

namespace Quorvel::port {

const char* const kMainProgram = "vendara";
const char* const kUpdaterProgram = "refitter";
const char* const kUpdaterStaged = "refitter._exe";

}  // namespace Quorvel::port
