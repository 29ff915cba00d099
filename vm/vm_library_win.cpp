// Loading the Java VM library into this process on Windows, with the two
// loader measures that let a runtime's own DLLs (msvcr*.dll, jvm.dll's
// siblings in bin\) be found: the DLL directory and, failing that, PATH.
#include <cstdio>
#include <string>

#include "launcher/win32.h"
#include "vm/vm_host.h"

namespace qlx {
namespace {

// The runtime's directory becomes a loader search location for the rest of
// the process. SetDllDirectoryA is missing before XP SP1, hence the lookup.
void setDllDirectory(const std::string& directory) {
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  if (kernel == nullptr) return;
  auto fn = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (fn != nullptr) fn(directory.c_str());
  // Kernel32 is never unloaded; the extra reference is simply returned.
  FreeLibrary(kernel);
}

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The directory as the loader may be given it, or empty when it must not
// be given at all. "C:" alone (the cut of C:\jvm.dll) means the current
// directory of drive C, so it becomes that drive's root; anything else
// that is not fully qualified would let libraries come from wherever the
// process happens to stand.
std::string loaderDirectory(const std::string& directory) {
  if (directory.size() == 2 && isDriveLetter(directory[0]) && directory[1] == ':')
    return directory + "\\";
  const bool driveAbsolute = directory.size() > 2 && isDriveLetter(directory[0]) &&
                             directory[1] == ':' && (directory[2] == '\\' || directory[2] == '/');
  const bool unc = directory.size() > 2 && (directory[0] == '\\' || directory[0] == '/') &&
                   (directory[1] == '\\' || directory[1] == '/');
  return driveAbsolute || unc ? directory : std::string();
}

// System texts end in CR LF; written through a text-mode stream that would
// become CR CR LF, so the text keeps bare LF and the stream adds the CR.
std::string textModeLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

void* loadVmLibraryFile(const std::string& path, Os& os) {
  // No "insert disk" or "cannot find" dialog may stop a console or a
  // service: the failing call returns an error instead.
  UINT mode = SetErrorMode(0);
  SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  // Discovery's paths may mix backslashes and slashes. The loader accepts
  // both, so the path, the DLL directory and the PATH entry stay exactly as
  // discovery built them.
  const std::string runtimeDirectory = loaderDirectory(runtimeDirectoryOf(path));
  const std::string& file = path;
  if (!runtimeDirectory.empty()) setDllDirectory(runtimeDirectory);

  HMODULE library = LoadLibraryA(file.c_str());
  if (library != nullptr) return library;

  // Without a usable DLL directory the runtime's dependencies are still
  // found through PATH; the directory goes last so nothing the user put on
  // PATH is shadowed.
  if (runtimeDirectory.empty()) {
    reportSystemError(path);
    return nullptr;
  }
  std::string assignment = "PATH=";
  if (auto current = os.getEnv("PATH")) assignment += *current;
  assignment += ";";
  assignment += runtimeDirectory;
  os.setEnv(assignment);

  library = LoadLibraryA(file.c_str());
  if (library != nullptr) return library;
  reportSystemError(path);
  return nullptr;
}

void* vmLibrarySymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeVmLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void reportSystemError(const std::string& path) {
  // Taken before anything else can overwrite it.
  const DWORD code = GetLastError();
  char* buffer = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);  // 0x0400
  const DWORD length =
      FormatMessageA(flags, nullptr, code, language, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    fputs("\n", stderr);
  } else {
    const std::string text = substituteInsert(std::string(buffer, length), path);
    fputs(textModeLines(text).c_str(), stderr);
    fputc('\n', stderr);
  }
  fflush(stderr);
  if (buffer != nullptr) LocalFree(buffer);
}

}  // namespace qlx
