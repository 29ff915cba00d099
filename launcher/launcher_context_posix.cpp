// The platform side of the launcher context on Linux.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "launcher/launcher_context.h"
#include "launcher/text.h"

namespace qlx {

std::string executablePath(bool* faithful) {
  if (faithful != nullptr) *faithful = true;  // narrow text is UTF-8: every name has a form
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return "/";
  std::string directory(buffer.data());
  if (!endsWithSeparator(directory)) directory.push_back('/');
  return directory;
}

bool readConfigFile(const std::string& path, std::string& out) {
  // Only regular files: a directory of that name is skipped, as the
  // Windows open of a directory fails.
  struct stat info;
  if (access(path.c_str(), R_OK) != 0 || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  out.clear();
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, got);
  std::fclose(file);
  return true;
}

void setProcessEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace qlx
