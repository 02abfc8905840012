#include "port/CrashReporter.h"

#include <windows.h>
// windows.h first: dbghelp.h needs its types.
#include <dbghelp.h>

#include <cstdio>
#include <ctime>

namespace Quorvel::port {

namespace {

// Set at install, read by the filter; the filter runs on the faulting thread
// after the fault, so nothing here is allocated then.
char gDumpPath[MAX_PATH];
char gNotePath[MAX_PATH];
char gNote[1024];
LPTOP_LEVEL_EXCEPTION_FILTER gPrevious = nullptr;
bool gInstalled = false;

// Writes a minidump of the process and a short note beside it, then lets
// the process end.
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
  HANDLE dump = CreateFileA(gDumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (dump != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = GetCurrentThreadId();
    exception.ExceptionPointers = pointers;
    exception.ClientPointers = FALSE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), dump, MiniDumpNormal, &exception, nullptr,
                      nullptr);
    CloseHandle(dump);
  }
  HANDLE note = CreateFileA(gNotePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (note != INVALID_HANDLE_VALUE) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "exception 0x%08lX\r\n",
                                     static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode));
    DWORD written = 0;
    WriteFile(note, gNote, static_cast<DWORD>(lstrlenA(gNote)), &written, nullptr);
    WriteFile(note, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(note);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int crashReporterInstall(const CrashReportInfo& info) {
  const long long stamp = static_cast<long long>(std::time(nullptr));
  const int dumpLength =
      std::snprintf(gDumpPath, sizeof gDumpPath, "%s\\crash-%lld.dmp", info.reportFolder.c_str(), stamp);
  const int noteLength =
      std::snprintf(gNotePath, sizeof gNotePath, "%s\\crash-%lld.txt", info.reportFolder.c_str(), stamp);
  if (dumpLength <= 0 || dumpLength >= static_cast<int>(sizeof gDumpPath) || noteLength <= 0 ||
      noteLength >= static_cast<int>(sizeof gNotePath)) {
    return 1;
  }
  std::snprintf(gNote, sizeof gNote, "%s crashed. Report: %s Privacy: %s\r\n", info.appName.c_str(),
                info.uploadUrl.c_str(), info.privacyUrl.c_str());
  // The dump writer is loaded now, not in the middle of a fault.
  if (LoadLibraryA("dbghelp.dll") == nullptr) return 1;
  // No error box of the system's own: the report is the answer to a fault.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  gPrevious = SetUnhandledExceptionFilter(onUnhandledException);
  gInstalled = true;
  return 0;
}

void crashReporterUninstall() {
  if (!gInstalled) return;
  SetUnhandledExceptionFilter(gPrevious);
  gPrevious = nullptr;
  gInstalled = false;
}

}  // namespace Quorvel::port
