// The real operating system behind the Os interface on Windows: the C
// runtime's environment and access test, directory listings and the
// registry (the launcher's own registry view).
#include "launcher/os.h"

#include <io.h>
#include <stdlib.h>

#include "launcher/handle_win.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/text.h"

namespace qlx {

namespace {

HKEY rootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_LOCAL_MACHINE;
}

REGSAM viewFlag(RegistryView view) {
  switch (view) {
    case RegistryView::Own: return 0;
    case RegistryView::Bits64: return KEY_WOW64_64KEY;
    case RegistryView::Bits32: return KEY_WOW64_32KEY;
  }
  return 0;
}

class WindowsOs final : public Os {
 public:
  std::optional<std::string> getEnv(const std::string& name) override {
    // The runtime's getenv compares names without regard to case.
    const char* value = getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  void setEnv(const std::string& assignment) override {
    _putenv(assignment.c_str());
    size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return;
    std::string name = assignment.substr(0, equals);
    std::string value = assignment.substr(equals + 1);
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

  bool isReadable(const std::string& path) override { return _access(path.c_str(), 4) == 0; }

  bool exists(const std::string& path) override { return _access(path.c_str(), 0) == 0; }

  bool listDirectory(const std::string& pattern, std::vector<DirEntry>& out) override {
    WIN32_FIND_DATAA data;
    ScopedFindHandle find(FindFirstFileA(pattern.c_str(), &data));
    if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      DirEntry entry;
      entry.name = data.cFileName;
      entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      out.push_back(std::move(entry));
    } while (FindNextFileA(find.get(), &data));
    return true;
  }

  bool directoryIdentity(const std::string& path, FileIdentity& out) override {
    // No access rights are needed to read the identity; backup semantics
    // is what lets CreateFile open a directory at all.
    ScopedKernelHandle directory(CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!directory || !GetFileInformationByHandle(directory.get(), &info)) return false;
    out.volume = info.dwVolumeSerialNumber;
    out.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
  }

  bool readRegistry(RegistryRoot root, const std::string& subkey, const std::string& valueName,
                    RegistryData& out) override {
    return readRegistryIn(RegistryView::Own, root, subkey, valueName, out);
  }

  bool readRegistryIn(RegistryView view, RegistryRoot root, const std::string& subkey,
                      const std::string& valueName, RegistryData& out) override {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(rootKey(root), subkey.c_str(), 0, KEY_READ | viewFlag(view), &opened) !=
        ERROR_SUCCESS) {
      return false;
    }
    ScopedRegistryKey key(opened);
    const char* name = valueName.empty() ? nullptr : valueName.c_str();
    // First ask for type and size, then read into a buffer of that size.
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    std::string bytes(size, '\0');
    if (size > 0 &&
        RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]),
                         &size) != ERROR_SUCCESS) {
      return false;
    }
    bytes.resize(size);
    out.type = type;
    out.bytes = std::move(bytes);
    return true;
  }

  bool listRegistryKeys(RegistryView view, RegistryRoot root, const std::string& subkey,
                        std::vector<std::string>& out) override {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(rootKey(root), subkey.c_str(), 0, KEY_READ | viewFlag(view), &opened) !=
        ERROR_SUCCESS) {
      return false;
    }
    ScopedRegistryKey key(opened);
    // Key names are at most 255 characters.
    char name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name;
      const LONG rc =
          RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) out.emplace_back(name, length);
      else if (rc != ERROR_MORE_DATA) break;
    }
    return true;
  }

  bool readFile(const std::string& path, std::string& out) override {
    return readConfigFile(path, out);
  }

  void warn(const std::string& line) override { printWarningOnce(line); }
};

WindowsOs gSystemOs;

}  // namespace

Os& systemOs() { return gSystemOs; }

}  // namespace qlx
