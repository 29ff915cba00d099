// The service runtime on Windows: the dispatcher, the service main that runs
// the application on the service thread, the control handler, and the
// helper threads (fallback, stop, stop watch). What they decide lives in the
// service bridge; this file gives it the manager and the threads.
#include <process.h>

#include <atomic>
#include <cstdlib>

#include "launcher/config.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "launcher/win32.h"
#include "service/service_bridge.h"
#include "service/service_command_line.h"
#include "vm/launch.h"

namespace qlx {

namespace {

std::atomic<SERVICE_STATUS_HANDLE> gStatusHandle{nullptr};

class ManagerReporter : public StatusReporter {
 public:
  void report(const ServiceStatusRecord& record) override {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = record.state;
    status.dwControlsAccepted = record.controlsAccepted;
    status.dwWin32ExitCode = record.win32ExitCode;
    status.dwServiceSpecificExitCode = record.serviceExitCode;
    status.dwCheckPoint = record.checkPoint;
    status.dwWaitHint = record.waitHint;
    SetServiceStatus(gStatusHandle.load(), &status);
  }
};

ManagerReporter gReporter;

void __cdecl stopThread(void*) {
  Sleep(0);
  endApplication(runningJavaVm());
}

void __cdecl stopWatchThread(void*) {
  for (uint32_t elapsed = 1000;; elapsed += 1000) {
    Sleep(1000);
    if (!serviceBridge().advanceStop(elapsed)) return;
  }
}

void __cdecl fallbackThread(void*) {
  Sleep(3000);
  serviceBridge().reportRunningIfSilent();
}

// The process ends inside the VM's exit (System.exit) with a VM that does
// not call the exit hook: the code is unknown here.
void onProcessExit() { serviceBridge().processEnding(false, 0); }

void WINAPI serviceControlHandler(DWORD control) {
  ServiceBridge& bridge = serviceBridge();
  // The watch runs from the start of a stop, so the check point advances
  // during a long onStop too.
  if ((control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) &&
      !bridge.stopRequested()) {
    _beginthread(stopWatchThread, 0, nullptr);
  }
  bridge.control(control, runningJavaVm(), [] { _beginthread(stopThread, 0, nullptr); });
}

StringList listOf(int count, char** vector) {
  StringList list;
  for (int i = 0; i < count; ++i) list.emplace_back(vector[i] != nullptr ? vector[i] : "");
  return list;
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  ServiceBridge& bridge = serviceBridge();
  const std::string name = messageText(kMsgServiceName);
  gStatusHandle = RegisterServiceCtrlHandlerA(name.c_str(), serviceControlHandler);
  bridge.setReporter(&gReporter);
  _beginthread(fallbackThread, 0, nullptr);

  ProcessState& state = processState();
  std::string mainargv = state.context != nullptr ? mainArgvValue(*state.context) : std::string();
  while (!mainargv.empty() && mainargv.back() == ' ') mainargv.pop_back();
  if (mainargv.empty()) mainargv = "cs";
  const StringList commandLine = listOf(state.argc, state.argv);
  const StringList startParameters =
      argc > 1 ? listOf(static_cast<int>(argc) - 1, argv + 1) : StringList();
  bridge.setCommandLine(commandLine);
  bridge.setStartParameters(startParameters);
  StringList first, second;
  chooseServiceArguments(mainargv, commandLine, startParameters, first, second);

  // The stopped state is reported from the process's end, once the
  // application's shutdown hooks have run: through the VM's exit hook where
  // the VM calls it (with the exit code), else from the runtime's exit.
  std::atexit(onProcessExit);
  if (state.vmHost != nullptr) {
    state.vmHost->addOption("exit", reinterpret_cast<void*>(&serviceExitHook));
  }

  const int result = launchApplication(
      first, [] { markRunAsService(processState().vmHost->env()); }, second);
  // A launch that failed never ran: the manager sees it stop while
  // starting, which is what /start reports as a failed start.
  if (result == 0) bridge.reportRunningIfSilent();
  if (state.vmHost != nullptr) state.vmHost->shutdownVm();
  bridge.reportFinished(result);
}

}  // namespace

bool startServiceDispatcher(const std::string& serviceName) {
  std::string name = serviceName;
  SERVICE_TABLE_ENTRYA table[2] = {};
  table[0].lpServiceName = &name[0];
  table[0].lpServiceProc = serviceMain;
  return StartServiceCtrlDispatcherA(table) != FALSE;
}

}  // namespace qlx
