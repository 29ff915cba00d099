// Windows steps of the start-up sequence: locale, common controls, the
// working directory, the single-instance mutex and the raw command line.
#include "launcher/startup.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "launcher/text.h"
#include "launcher/trace.h"
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
    std::string line = "CreateMutex error: " + decimalText(static_cast<int>(GetLastError())) + "\n";
    fputs(line.c_str(), stdout);
    return false;
  }
  // The handle is deliberately never closed: owning the mutex until the
  // process ends is what marks this process as the first instance. An
  // abandoned mutex (the first instance died) counts as acquired.
  return WaitForSingleObject(mutex, 100) != WAIT_TIMEOUT;
}

uint64_t monotonicMs() {
  // GetTickCount64 moves in steps of about 16 ms: too coarse for a start.
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(counter.QuadPart) * 1000 /
         static_cast<uint64_t>(frequency.QuadPart);
}

std::string rawCommandLine(int, char**) {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

}  // namespace qlx

// --- C++ runtime failure policy of the stub ------------------------------
// The launcher catches no C++ exception anywhere: a failure of the standard
// library (out of memory, a length or range error) is a bug or the end of
// the process either way. So the library's throw helpers and the terminate
// handler report one line and end the process at once. Defining them here
// keeps the runtime's own versions out of the stub, and with them the
// symbol demangler and the exception classes' copy-on-write strings (about
// 70 KB together): the stub must stay small.
namespace {
[[noreturn]] void internalError(const char* what) {
  fputs("qlx: internal error: ", stderr);
  fputs(what ? what : "", stderr);
  fputc('\n', stderr);
  fflush(stderr);
  abort();
}
}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() { internalError("unexpected exception"); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_exception() { internalError("bad exception"); }
void __throw_bad_function_call() { internalError("bad function call"); }
void __throw_bad_alloc() { internalError("out of memory"); }
void __throw_bad_array_new_length() { internalError("bad array length"); }
void __throw_bad_cast() { internalError("bad cast"); }
void __throw_bad_typeid() { internalError("bad typeid"); }
void __throw_logic_error(const char* what) { internalError(what); }
void __throw_domain_error(const char* what) { internalError(what); }
void __throw_invalid_argument(const char* what) { internalError(what); }
void __throw_length_error(const char* what) { internalError(what); }
void __throw_out_of_range(const char* what) { internalError(what); }
void __throw_out_of_range_fmt(const char* what, ...) { internalError(what); }
void __throw_runtime_error(const char* what) { internalError(what); }
void __throw_range_error(const char* what) { internalError(what); }
void __throw_overflow_error(const char* what) { internalError(what); }
void __throw_underflow_error(const char* what) { internalError(what); }
void __throw_system_error(int) { internalError("system error"); }
}  // namespace std
