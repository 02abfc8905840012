#include "port/ProcessLauncher.h"

#include <windows.h>
#include <shellapi.h>

namespace Quorvel::port {

namespace {

// One argument as the started program's command-line parser reads it back:
// quoted when it holds a space, a tab or a quote, with the backslashes
// before a quote doubled.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// The shell's "open", as a user's double click would: a bare name is looked
// up where the shell looks for programs (the App Paths of installed
// browsers included). The shell reports a program it could not start with a
// result of 32 or less. Output cannot be kept: the programs started here are
// windowed programs without a console.
class ShellProcessLauncher : public ProcessLauncher {
 public:
  bool start(const ProcessStart& what) override {
    if (what.program.empty()) return false;
    std::string parameters;
    for (const auto& arg : what.args) {
      if (!parameters.empty()) parameters += ' ';
      parameters += quoted(arg);
    }
    const HINSTANCE result = ShellExecuteA(nullptr, "open", what.program.c_str(),
                                           parameters.empty() ? nullptr : parameters.c_str(),
                                           what.workingDir.empty() ? nullptr : what.workingDir.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
  }
};

}  // namespace

std::shared_ptr<ProcessLauncher> systemProcessLauncher() { return std::make_shared<ShellProcessLauncher>(); }

}  // namespace Quorvel::port
