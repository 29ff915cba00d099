// The service commands' view of the real Service Control Manager.
#include <memory>
#include <vector>

#include "launcher/handle_win.h"
#include "service/service_commands.h"

namespace qlx {
namespace {

class WindowsManagerLink : public ServiceManagerLink {
 public:
  uint32_t open(const std::string& name, uint32_t rights) override {
    manager_.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager_) return GetLastError();
    service_.reset(OpenServiceA(manager_.get(), name.c_str(), rights));
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
    queryRecovery(view);
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
  // Managers that keep no failure actions (or cannot tell them) leave the
  // view at "not known".
  void queryRecovery(ServiceConfigView& view) {
    // Room for the most actions a manager keeps (1024) and its texts.
    static BYTE buffer[16384];
    auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfig2A(service_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer,
                              &needed))
      return;
    view.recoveryKnown = true;
    view.resetSeconds = actions->dwResetPeriod;
    // SC_ACTION and RecoveryAction are the same two 32-bit numbers.
    static_assert(sizeof(SC_ACTION) == sizeof(RecoveryAction), "two 32-bit numbers");
    if (actions->lpsaActions != nullptr) {
      const auto* first = reinterpret_cast<const RecoveryAction*>(actions->lpsaActions);
      view.recovery.assign(first, first + actions->cActions);
    }
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    if (QueryServiceConfig2A(service_.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                             reinterpret_cast<LPBYTE>(&flag), sizeof(flag), &needed))
      view.failOnExit = flag.fFailureActionsOnNonCrashFailures ? 1 : 0;
  }

  ScopedServiceHandle manager_;
  ScopedServiceHandle service_;
};

}  // namespace

std::unique_ptr<ServiceManagerLink> systemServiceManager() {
  return std::make_unique<WindowsManagerLink>();
}

}  // namespace qlx
