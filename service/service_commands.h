// The service commands of the program's own command line: /start, /stop,
// /restart, /pause, /continue and /status. The decisions (what to ask the
// manager, how long to wait, which line to print, which exit code) are made
// here against a ServiceManagerLink, which service_control_win.cpp gives
// the real manager and the tests give a scripted one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/function_ref.h"
#include "launcher/text.h"

namespace qlx {

enum class ServiceCommand { Start, Stop, Restart, Pause, Continue, Status };

// Win32 error codes the commands tell apart.
enum ManagerError : uint32_t {
  kWinAccessDenied = 5,
  kWinDependentServicesRunning = 1051,
  kWinInvalidServiceControl = 1052,
  kWinServiceAlreadyRunning = 1056,
  kWinServiceRequestTimeout = 1053,
  kWinServiceDisabled = 1058,
  kWinServiceDoesNotExist = 1060,
  kWinServiceCannotAcceptControl = 1061,
  kWinServiceNotActive = 1062,
  kWinServiceSpecificError = 1066,
  kWinDependencyFailed = 1068,
  kWinLogonFailed = 1069,
  kWinDependencyDeleted = 1075,
  kWinOldWindows = 1150,
};

struct ServiceStatusView {
  uint32_t state = 1;  // the manager's numbers: 1 stopped .. 7 paused
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
  uint32_t processId = 0;
};

struct RecoveryAction {
  uint32_t type = 0;  // the manager's numbers: 0 none, 1 restart, 2 reboot, 3 run a command
  uint32_t delayMs = 0;
};

struct ServiceConfigView {
  uint32_t startType = 3;  // 2 automatic, 3 demand, 4 disabled
  bool delayed = false;
  std::string account;
  // What the manager does after failures, where it tells.
  bool recoveryKnown = false;
  std::vector<RecoveryAction> recovery;
  uint32_t resetSeconds = 0;
  int failOnExit = -1;  // -1 not told, 0 only crashes count, 1 a non-zero exit code counts too
};

// Every call returns 0 or the Win32 error code.
class ServiceManagerLink {
 public:
  virtual ~ServiceManagerLink() = default;
  // Opens the service with exactly `rights` (service_rights.h).
  virtual uint32_t open(const std::string& name, uint32_t rights) = 0;
  virtual uint32_t query(ServiceStatusView& status) = 0;
  virtual uint32_t queryConfig(ServiceConfigView& config) = 0;
  virtual uint32_t start(const StringList& parameters) = 0;
  virtual uint32_t control(uint32_t control) = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  virtual uint64_t nowMs() = 0;
};

// The real manager (service_control_win.cpp); on Linux every call fails
// with kWinOldWindows.
std::unique_ptr<ServiceManagerLink> systemServiceManager();

using LinePrinter = FunctionRef<void(const std::string& text)>;

struct CommandSetting {
  std::string serviceName;
  uint32_t stopBoundSeconds = 20;
  std::string errorLog;  // where the service's start-up failures are written
};

// Runs one command and returns the exit code: 0 on success (for /status:
// running), else the message id of the reason; /status returns the state
// number for any state but running. `print` gets each result line,
// `progress` the dots a console shows while waiting.
int runServiceCommand(ServiceCommand command, const StringList& parameters,
                      const CommandSetting& setting, ServiceManagerLink& link,
                      LinePrinter print, LinePrinter progress);

// "stopped", "starting", "stopping", "running", "continuing", "pausing",
// "paused", or "in state N".
std::string serviceStateWord(uint32_t state);

// The recovery settings as /status shows them.
std::string recoveryText(const ServiceConfigView& config);

}  // namespace qlx
