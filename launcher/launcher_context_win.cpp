// Windows side of the launcher context: the executable's path, the current
// directory, reading the external configuration file and publishing
// environment variables to both the C runtime and the process block.
#include "launcher/launcher_context.h"

#include <io.h>
#include <stdlib.h>

#include "launcher/handle_win.h"
#include "launcher/text.h"

namespace qlx {

std::string executablePath() {
  char buffer[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A path cut at MAX_PATH would name some other file: treat it as unknown.
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
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
  DWORD size = GetFileSize(file.get(), nullptr);
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
