// Registration and removal of the Windows service.
#include <string>
#include <vector>

#include "launcher/handle_win.h"
#include "service/service_command_line.h"

namespace qlx {

namespace {

int installFailure(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return 277;
    case ERROR_DUP_NAME: return 278;
    case ERROR_SERVICE_MARKED_FOR_DELETE: return 279;
    case ERROR_SERVICE_EXISTS: return 280;
    case ERROR_OLD_WIN_VERSION: return 272;
    default: return 281;
  }
}

// Called only after a call failed, so even an error code of 0 is a failure.
int uninstallFailure(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return 277;
    case ERROR_SERVICE_DOES_NOT_EXIST: return 282;
    case ERROR_SERVICE_MARKED_FOR_DELETE: return 279;
    default: return 281;
  }
}

// "a/b/" -> "a\0b\0\0". Empty names (from "//" or a leading "/") are
// skipped: an empty name inside the list would end it early and silently
// drop the dependencies after it.
std::vector<char> dependencyList(const std::string& text) {
  std::vector<char> list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      list.insert(list.end(), text.begin() + start, text.begin() + end);
      list.push_back('\0');
    }
    start = end + 1;
  }
  list.push_back('\0');
  if (list.size() == 1) list.push_back('\0');
  return list;
}

void setDescription(SC_HANDLE service, const std::string& description) {
  using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
  ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return;
  auto change = reinterpret_cast<ChangeConfig2>(
      reinterpret_cast<void*>(GetProcAddress(advapi.get(), "ChangeServiceConfig2A")));
  if (change == nullptr) return;
  std::string text = description;
  SERVICE_DESCRIPTIONA record;
  record.lpDescription = &text[0];
  change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

}  // namespace

int installService(const std::string& imagePath, const std::string& name,
                   const std::string& displayName, const std::string& description,
                   const std::string& dependencies, bool autoStart, bool interactive) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 272;

  ScopedServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return installFailure(GetLastError());

  std::vector<char> dependencyNames = dependencyList(dependencies);
  DWORD type = SERVICE_WIN32_OWN_PROCESS | (interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
  ScopedServiceHandle service(CreateServiceA(
      manager.get(), name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS, type,
      autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
      imagePath.c_str(), nullptr, nullptr, dependencyNames.data(), nullptr, nullptr));
  if (!service) {
    DWORD error = GetLastError();
    manager.reset();
    return installFailure(error);
  }
  if (version.dwMajorVersion >= 5) setDescription(service.get(), description);
  return 0;
}

int uninstallService(const std::string& name) {
  ScopedServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return uninstallFailure(GetLastError());
  ScopedServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return uninstallFailure(GetLastError());
  if (!DeleteService(service.get())) return uninstallFailure(GetLastError());
  return 0;
}

}  // namespace qlx
