// Windows side of the launcher context: the executable's path, the current
// directory, reading the external configuration file and publishing
// environment variables to both the C runtime and the process block.
#include "launcher/launcher_context.h"

#include <io.h>
#include <stdlib.h>

#include "launcher/handle_win.h"
#include "launcher/module_path_win.h"
#include "launcher/text.h"

namespace qlx {

WideText executablePathWide() {
  WideText buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, wideChars(buffer), size);
    if (length == 0) return WideText();
    if (length < size) return buffer.substr(0, length);
    if (size >= 32768) return WideText();  // longer than any Windows path
    buffer.resize(size * 2);
  }
}

namespace {

// The ANSI form of a wide path, false when some character has none (it
// would come out as '?', naming no file at all).
bool ansiExactly(const WideText& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  const int count = static_cast<int>(wide.size());
  // Code page 65001 can spell everything, and refuses the loss check.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* lossCheck = utf8 ? nullptr : &lossy;
  const int length =
      WideCharToMultiByte(CP_ACP, flags, wideChars(wide), count, nullptr, 0, nullptr, lossCheck);
  if (length <= 0) return false;
  out.resize(static_cast<size_t>(length));
  WideCharToMultiByte(CP_ACP, flags, wideChars(wide), count, &out[0], length, nullptr, lossCheck);
  return !lossy;
}

WideText shortPathOf(const WideText& wide) {
  const DWORD needed = GetShortPathNameW(wideChars(wide), nullptr, 0);
  if (needed == 0) return WideText();
  WideText buffer(needed, u'\0');
  const DWORD length = GetShortPathNameW(wideChars(wide), wideChars(buffer), needed);
  return length > 0 && length < needed ? buffer.substr(0, length) : WideText();
}

}  // namespace

std::string executablePath(bool* faithful) {
  if (faithful != nullptr) *faithful = true;
  const WideText wide = executablePathWide();
  std::string narrow;
  bool exact = ansiExactly(wide, narrow);
  // A folder the code page cannot spell usually still has a short name
  // that it can, naming the same file for every narrow call that follows.
  std::string shortNarrow;
  if (!exact && ansiExactly(shortPathOf(wide), shortNarrow) && !shortNarrow.empty()) {
    narrow = shortNarrow;
    exact = true;
  }
  // A path longer than the narrow calls take would name some other file.
  if (narrow.size() >= MAX_PATH) return std::string();
  if (faithful != nullptr) *faithful = exact;
  return narrow;
}

std::string currentDirectory() {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  std::string result;
  if (length > 0 && length < MAX_PATH) result.assign(buffer, length);
  if (!endsWithSeparator(result, isNarrowLeadByte)) result += '/';
  return result;
}

bool readConfigFile(const std::string& path, std::string& out) {
  if (_access(path.c_str(), 4) != 0) return false;
  ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // GetFileSizeEx, which the stub imports for other files anyway; only the
  // low part counts, as GetFileSize without a high word gives it.
  LARGE_INTEGER whole;
  if (!GetFileSizeEx(file.get(), &whole)) return false;
  const DWORD size = whole.LowPart;
  if (size == INVALID_FILE_SIZE) return false;
  out.assign(size, '\0');
  DWORD read = 0;
  if (size > 0 && !ReadFile(file.get(), &out[0], size, &read, nullptr)) {
    out.clear();
    return false;
  }
  out.resize(read);
  return true;
}

void setProcessEnvironment(const std::string& name, const std::string& value) {
  std::string assignment = name + "=" + value;
  _putenv(assignment.c_str());
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

}  // namespace qlx
