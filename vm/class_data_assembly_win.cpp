// The cache's assembly on Windows: CreateProcessA of the runtime's
// java.exe, detached from the console, in its own process group, at below
// normal priority, out of the program's job where the job lets it go. It
// inherits one handle, its log, which it holds open without sharing write
// access for as long as it runs.
#include <cstring>
#include <string>

#include "launcher/arguments.h"
#include "launcher/handle_win.h"
#include "launcher/win32.h"
#include "vm/class_data_platform.h"

namespace qlx {

namespace {

bool hidden(const char* entry, const StringList& names) {
  for (const std::string& name : names) {
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry, static_cast<int>(name.size()),
                       name.c_str(), static_cast<int>(name.size())) == CSTR_EQUAL &&
        entry[name.size()] == '=') {
      return true;
    }
  }
  return false;
}

// The process's environment block without `names`.
std::string environmentWithout(const StringList& names) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry != nullptr && *entry != '\0';
       entry += std::strlen(entry) + 1) {
    if (!hidden(entry, names)) block.append(entry, std::strlen(entry) + 1);
  }
  if (strings != nullptr) FreeEnvironmentStringsA(strings);
  // A block ends with an empty entry; an empty block is two zeros.
  block.append(block.empty() ? 2 : 1, '\0');
  return block;
}

}  // namespace

bool startAssembly(const StringList& arguments, const std::string& log,
                   const StringList& removeFromEnvironment) {
  if (arguments.empty()) return false;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  ScopedKernelHandle output(CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.valid()) return false;

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::string listBuffer(size, '\0');
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&listBuffer[0]);
  HANDLE inherited = output.get();
  if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
  // Only the log: the program's own inheritable handles (a log pipe, say)
  // must close when the program ends.
  const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                &inherited, sizeof inherited, nullptr, nullptr);
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = output.get();
  startup.StartupInfo.hStdError = output.get();
  startup.lpAttributeList = list;

  std::string commandLine = joinArguments(arguments);
  std::string environment = environmentWithout(removeFromEnvironment);
  const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP |
                      BELOW_NORMAL_PRIORITY_CLASS;
  PROCESS_INFORMATION process{};
  bool started = false;
  if (listed) {
    // A service's job may end its processes with it; the assembly leaves
    // the job where the job allows, and stays in it where it does not.
    for (const DWORD extra : {static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB), DWORD{0}}) {
      started = CreateProcessA(arguments[0].c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                               flags | extra, &environment[0], nullptr, &startup.StartupInfo,
                               &process) != 0;
      if (started) break;
    }
  }
  DeleteProcThreadAttributeList(list);
  if (!started) {
    // The log stays as the record of a failed assembly.
    const std::string why = "cannot start " + arguments[0] + "\r\n";
    DWORD written = 0;
    WriteFile(output.get(), why.data(), static_cast<DWORD>(why.size()), &written, nullptr);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool assemblyRunning(const std::string& log) {
  ScopedKernelHandle file(CreateFileA(log.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace qlx
