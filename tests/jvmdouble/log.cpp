// The double's call log, its view of the environment and its writes to the
// standard handles.
#include <cstdio>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

CRITICAL_SECTION& logLock() {
  static CRITICAL_SECTION lock;
  static bool ready = [] {
    InitializeCriticalSection(&lock);
    return true;
  }();
  (void)ready;
  return lock;
}

}  // namespace

std::string envValue(const char* name, const char* fallback) {
  // The process environment block, which is what a real VM reads, not the
  // C runtime's copy of the launcher.
  char small[1024];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof(small));
  if (n == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? fallback : "";
  if (n < sizeof(small)) return std::string(small, n);
  std::string big(n, '\0');
  n = GetEnvironmentVariableA(name, &big[0], n);
  big.resize(n);
  return big;
}

bool envSet(const char* name) {
  char c;
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA(name, &c, 1);
  return n != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void logLine(const char* format, ...) {
  std::string path = envValue("QLX_JVM_LOG");
  if (path.empty()) return;
  // A Linux path from a test script: Wine shows the Linux root as Z:, and
  // the launcher may have moved the current drive elsewhere.
  if (path[0] == '/' && (path.size() < 2 || path[1] != '/')) path = "Z:" + path;
  char buffer[4096];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buffer, sizeof(buffer), format, ap);
  va_end(ap);
  if (n < 0) return;
  std::string line(buffer, n < (int)sizeof(buffer) ? n : (int)sizeof(buffer) - 1);
  line += "\n";
  // Opened per line, so every line is on disk before a script ends the
  // process with ExitProcess.
  EnterCriticalSection(&logLock());
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(file);
  }
  LeaveCriticalSection(&logLock());
}

void writeStd(DWORD which, const std::string& text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  // Whatever the launcher's C runtime buffered goes first, as it would with
  // a VM whose streams are separate from the launcher's.
  fflush(which == STD_OUTPUT_HANDLE ? stdout : stderr);
  DWORD written = 0;
  WriteFile(handle, text.data(), (DWORD)text.size(), &written, nullptr);
}

void fail(int code, const char* format, ...) {
  char buffer[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buffer, sizeof(buffer), format, ap);
  va_end(ap);
  std::string text = std::string("jvmdouble: ") + buffer + "\n";
  writeStd(STD_ERROR_HANDLE, text);
  logLine("fatal %s", buffer);
  ExitProcess(code);
}

}  // namespace jvmdouble
