// Windows steps of the start-up sequence: locale, common controls, the
// working directory, the single-instance mutex and the raw command line.
#include "launcher/startup.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "launcher/win32.h"

#include <commctrl.h>

namespace qlx {

void setUserLocale() { setlocale(LC_ALL, ""); }

void initCommonControls() {
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = 8;
  controls.dwICC = 0;
  InitCommonControlsEx(&controls);
}

std::string fullPathName(const std::string& candidate) {
  char buffer[MAX_PATH];
  DWORD length = GetFullPathNameA(candidate.c_str(), MAX_PATH, buffer, nullptr);
  if (length < 1 || length > MAX_PATH - 1) return std::string();
  return std::string(buffer, length);
}

bool setWorkingDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != 0; }

bool acquireSingleInstance(const std::string& mutexName) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName.c_str());
  if (mutex == nullptr) {
    printf("CreateMutex error: %d\n", static_cast<int>(GetLastError()));
    return false;
  }
  // The handle is deliberately never closed: owning the mutex until the
  // process ends is what marks this process as the first instance. An
  // abandoned mutex (the first instance died) counts as acquired.
  return WaitForSingleObject(mutex, 100) != WAIT_TIMEOUT;
}

std::string rawCommandLine(int, char**) {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

}  // namespace qlx

// An exception that escapes to std::terminate is a bug; say so in one line
// and end. Defining the handler here keeps the runtime's verbose handler,
// and the symbol demangler it drags in (about 45 KB), out of the stub.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  fputs("qlx: internal error: unexpected exception\n", stderr);
  abort();
}
}  // namespace __gnu_cxx
