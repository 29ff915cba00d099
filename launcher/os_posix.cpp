// The Os interface on Linux: the C runtime's environment, access(),
// directory listings with FindFirstFileA-like matching, and no registry.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/os.h"
#include "launcher/text.h"

extern char** environ;

namespace qlx {
namespace {

class PosixOs : public Os {
 public:
  std::optional<std::string> getEnv(const std::string& name) override {
    if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
    if (const char* exact = std::getenv(name.c_str())) return std::string(exact);
    // Windows names ignore case; the Linux build answers the same way.
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const char* eq = std::strchr(*entry, '=');
      if (eq == nullptr) continue;
      if (equalsIgnoreCase(std::string_view(*entry, eq - *entry), name))
        return std::string(eq + 1);
    }
    return std::nullopt;
  }

  void setEnv(const std::string& assignment) override {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) return;
    const std::string name = assignment.substr(0, eq);
    // Windows has one variable per name whatever its case; so that an
    // `export java_tool_options=` means the same here, every spelling of
    // the name goes before the new value is set.
    std::vector<std::string> spellings;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const char* sign = std::strchr(*entry, '=');
      if (sign != nullptr && equalsIgnoreCase(std::string_view(*entry, sign - *entry), name))
        spellings.emplace_back(*entry, sign - *entry);
    }
    for (const std::string& spelling : spellings) unsetenv(spelling.c_str());
    if (eq + 1 < assignment.size()) setenv(name.c_str(), assignment.c_str() + eq + 1, 1);
  }

  bool isReadable(const std::string& path) override { return access(path.c_str(), R_OK) == 0; }
  bool exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }

  bool listDirectory(const std::string& pattern, std::vector<DirEntry>& out) override {
    const size_t cut = pattern.find_last_of("\\/");
    const std::string dir = cut == std::string::npos ? "." : pattern.substr(0, cut + 1);
    const std::string component = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return false;
    bool any = false;
    while (dirent* entry = readdir(handle)) {
      // FindFirstFileA lets '*' match a leading dot, so no FNM_PERIOD.
      if (fnmatch(component.c_str(), entry->d_name, 0) != 0) continue;
      struct stat info;
      const std::string full = (cut == std::string::npos ? "" : dir) + entry->d_name;
      const bool isDir = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      out.push_back({entry->d_name, isDir});
      any = true;
    }
    closedir(handle);
    return any;
  }

  bool directoryIdentity(const std::string& path, FileIdentity& out) override {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    out.volume = static_cast<uint64_t>(info.st_dev);
    out.index = static_cast<uint64_t>(info.st_ino);
    return true;
  }

  bool readRegistry(RegistryRoot, const std::string&, const std::string&, RegistryData&) override {
    return false;
  }

  bool readFile(const std::string& path, std::string& out) override {
    return readConfigFile(path, out);
  }

  void warn(const std::string& line) override { printWarningOnce(line); }
};

}  // namespace

Os& systemOs() {
  static PosixOs os;
  return os;
}

}  // namespace qlx
