// Registration and removal of the Windows service.
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/handle_win.h"
#include "launcher/messages.h"
#include "launcher/text.h"
#include "service/service_command_line.h"
#include "service/service_numbers.h"
#include "service/service_rights.h"

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

using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);

// ChangeServiceConfig2A is looked up, not imported, so the program still
// loads where the manager predates it.
ChangeConfig2 changeConfig2(const ScopedLibrary& advapi) {
  if (!advapi) return nullptr;
  return reinterpret_cast<ChangeConfig2>(
      reinterpret_cast<void*>(GetProcAddress(advapi.get(), "ChangeServiceConfig2A")));
}

void setDescription(ChangeConfig2 change, SC_HANDLE service, const std::string& description) {
  if (change == nullptr) return;
  std::string text = description;
  SERVICE_DESCRIPTIONA record;
  record.lpDescription = &text[0];
  change(service, SERVICE_CONFIG_DESCRIPTION, &record);
}

// The settings beyond CreateServiceA's own. A refused one is named but
// does not undo the installation.
void applySettings(ChangeConfig2 change, SC_HANDLE service, const InstallSettings& settings,
                   const SettingRefused& refused) {
  auto apply = [&](const char* setting, DWORD level, void* info) {
    if (change == nullptr) {
      refused(setting, ERROR_CALL_NOT_IMPLEMENTED);
    } else if (!change(service, level, info)) {
      refused(setting, GetLastError());
    }
  };
  if (settings.startType == StartType::DelayedAuto) {
    SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
    apply("delayed start", SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed);
  }
  if (settings.recovery.enabled) {
    // One restart per allowed failure, then nothing until the reset
    // period forgets the failures.
    std::vector<SC_ACTION> actions(settings.recovery.count + 1);
    for (uint32_t i = 0; i < settings.recovery.count; ++i) {
      actions[i].Type = SC_ACTION_RESTART;
      actions[i].Delay = settings.recovery.delaySeconds * 1000;
    }
    actions.back().Type = SC_ACTION_NONE;
    actions.back().Delay = 0;
    SERVICE_FAILURE_ACTIONSA failure = {};
    failure.dwResetPeriod = settings.recovery.resetSeconds;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.data();
    apply("recovery", SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  }
  const bool failOnExit = settings.failOnExitGiven ? settings.failOnExit : settings.recovery.enabled;
  if (failOnExit) {
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    apply("failonexit", SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  }
  SERVICE_PRESHUTDOWN_INFO preshutdown = {settings.preshutdownSeconds * 1000};
  apply("preshutdown", SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown);
}

DWORD managerStartType(StartType type) {
  switch (type) {
    case StartType::Auto:
    case StartType::DelayedAuto: return SERVICE_AUTO_START;
    case StartType::Disabled: return SERVICE_DISABLED;
    case StartType::Manual: break;
  }
  return SERVICE_DEMAND_START;
}

}  // namespace

int installService(const ServiceRegistration& r, const SettingRefused& refused) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 272;

  ScopedServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return installFailure(GetLastError());

  std::vector<char> dependencyNames = dependencyList(r.dependencies);
  DWORD type = SERVICE_WIN32_OWN_PROCESS | (r.interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
  // LocalService and NetworkService take an empty password; a virtual
  // account and LocalSystem take none.
  const char* account = r.accountName.empty() ? nullptr : r.accountName.c_str();
  const char* password = nullptr;
  if (accountNeedsPassword(r.accountName) || startsWithIgnoreCase(r.accountName, "NT AUTHORITY\\"))
    password = r.password.c_str();
  ScopedServiceHandle service(CreateServiceA(
      manager.get(), r.name.c_str(), r.displayName.c_str(),
      installRights(r.settings.recovery.enabled), type,
      managerStartType(r.settings.startType), SERVICE_ERROR_IGNORE, r.imagePath.c_str(), nullptr,
      nullptr, dependencyNames.data(), account, password));
  if (!service) {
    DWORD error = GetLastError();
    manager.reset();
    return installFailure(error);
  }
  if (version.dwMajorVersion >= 5) {
    ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
    ChangeConfig2 change = changeConfig2(advapi);
    setDescription(change, service.get(), r.description);
    applySettings(change, service.get(), r.settings, refused);
  }
  return 0;
}

int uninstallService(const std::string& name, bool& stillRunning) {
  stillRunning = false;
  // Removing needs no right on the manager itself beyond connecting.
  ScopedServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return uninstallFailure(GetLastError());
  ScopedServiceHandle service(OpenServiceA(manager.get(), name.c_str(), kUninstallRights));
  if (!service) return uninstallFailure(GetLastError());
  if (!DeleteService(service.get())) return uninstallFailure(GetLastError());
  // A service that still runs stays registered until it stops.
  SERVICE_STATUS status = {};
  stillRunning = QueryServiceStatus(service.get(), &status) && status.dwCurrentState != kServiceStopped;
  return 0;
}

}  // namespace qlx

namespace qlx {

bool readPassword(const std::string& prompt, std::string& password) {
  password.clear();
  ScopedKernelHandle console(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
  DWORD mode = 0;
  if (console && GetConsoleMode(console.get(), &mode)) {
    writeStartOutput(prompt);
    SetConsoleMode(console.get(), (mode | ENABLE_LINE_INPUT) & ~DWORD{ENABLE_ECHO_INPUT});
    char buffer[256];
    DWORD read = 0;
    bool ok = true;
    for (;;) {
      if (!ReadConsoleA(console.get(), buffer, sizeof(buffer), &read, nullptr) || read == 0) {
        ok = false;
        break;
      }
      password.append(buffer, read);
      if (password.find('\n') != std::string::npos) break;
    }
    SecureZeroMemory(buffer, sizeof(buffer));
    SetConsoleMode(console.get(), mode);
    writeStartOutput("\n");
    const size_t end = password.find_first_of("\r\n");
    if (end != std::string::npos) password.resize(end);
    return ok;
  }
  // No console: a password piped into standard input, one line.
  writeStartOutput(prompt);
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) password.push_back(static_cast<char>(c));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  writeStartOutput("\n");
  return !password.empty() || !std::feof(stdin);
}

}  // namespace qlx
