// The service commands' view of the real Service Control Manager.
#include <memory>
#include <vector>

#include "launcher/handle_win.h"
#include "service/service_commands.h"

namespace qlx {
namespace {

class WindowsManagerLink : public ServiceManagerLink {
 public:
  uint32_t open(const std::string& name, bool forControl) override {
    manager_.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager_) return GetLastError();
    DWORD access = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
    if (forControl) access |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE;
    service_.reset(OpenServiceA(manager_.get(), name.c_str(), access));
    return service_ ? 0 : GetLastError();
  }

  uint32_t query(ServiceStatusView& view) override {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
      // Older managers know only the plain status, without the process id.
      SERVICE_STATUS plain = {};
      if (!QueryServiceStatus(service_.get(), &plain)) return GetLastError();
      status.dwCurrentState = plain.dwCurrentState;
      status.dwControlsAccepted = plain.dwControlsAccepted;
      status.dwWin32ExitCode = plain.dwWin32ExitCode;
      status.dwServiceSpecificExitCode = plain.dwServiceSpecificExitCode;
      status.dwCheckPoint = plain.dwCheckPoint;
      status.dwWaitHint = plain.dwWaitHint;
    }
    view.state = status.dwCurrentState;
    view.controlsAccepted = status.dwControlsAccepted;
    view.win32ExitCode = status.dwWin32ExitCode;
    view.serviceExitCode = status.dwServiceSpecificExitCode;
    view.checkPoint = status.dwCheckPoint;
    view.waitHint = status.dwWaitHint;
    view.processId = status.dwProcessId;
    return 0;
  }

  uint32_t queryConfig(ServiceConfigView& view) override {
    DWORD needed = 0;
    QueryServiceConfigA(service_.get(), nullptr, 0, &needed);
    if (needed == 0) return GetLastError();
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service_.get(), config, needed, &needed)) return GetLastError();
    view.startType = config->dwStartType;
    view.account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : "";
    if (view.account == "LocalSystem" || view.account == ".\\LocalSystem") view.account.clear();
    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    if (QueryServiceConfig2A(service_.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                             reinterpret_cast<LPBYTE>(&delayed), sizeof(delayed), &needed))
      view.delayed = delayed.fDelayedAutostart != FALSE;
    return 0;
  }

  uint32_t start(const StringList& parameters) override {
    std::vector<const char*> vector;
    for (const std::string& parameter : parameters) vector.push_back(parameter.c_str());
    if (!StartServiceA(service_.get(), static_cast<DWORD>(vector.size()),
                       vector.empty() ? nullptr : vector.data()))
      return GetLastError();
    return 0;
  }

  uint32_t control(uint32_t control) override {
    SERVICE_STATUS status = {};
    return ControlService(service_.get(), control, &status) ? 0 : GetLastError();
  }

  void sleepMs(uint32_t ms) override { Sleep(ms); }
  uint64_t nowMs() override { return GetTickCount64(); }

 private:
  ScopedServiceHandle manager_;
  ScopedServiceHandle service_;
};

}  // namespace

std::unique_ptr<ServiceManagerLink> systemServiceManager() {
  return std::make_unique<WindowsManagerLink>();
}

}  // namespace qlx
