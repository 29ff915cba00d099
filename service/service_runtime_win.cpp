// The service runtime on Windows: the dispatcher, the service main that runs
// the application on the service thread, the control handler, and the
// helper threads (fallback, stop, stop watch, handler call). What they
// decide lives in the service bridge; this file gives it the manager, the
// threads and the end of the process.
#include <process.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "launcher/config.h"
#include "launcher/launcher_context.h"
#include "launcher/launcher_version.h"
#include "launcher/messages.h"
#include "launcher/handle_win.h"
#include "launcher/process_state.h"
#include "launcher/trace.h"
#include "launcher/win32.h"
#include "redirect/redirect.h"
#include "service/service_bridge.h"
#include "service/service_command_line.h"
#include "service/stop_timeout.h"
#include "service/vm_exit_watch.h"
#include "vm/launch.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

std::atomic<SERVICE_STATUS_HANDLE> gStatusHandle{nullptr};
// The stopped state was reported from the process's end in order
// (System.exit), whose thread goes on to end the process.
std::atomic<bool> gEndingThroughExit{false};

// Preshutdown exists from Windows Vista on; an older manager would refuse
// the whole record for the unknown bit.
bool preshutdownKnown() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwMajorVersion >= 6;
}

class ManagerReporter : public StatusReporter {
 public:
  void report(const ServiceStatusRecord& record) override {
    static const bool preshutdown = preshutdownKnown();
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = record.state;
    const DWORD accepted = record.controlsAccepted;
    status.dwControlsAccepted = preshutdown ? accepted : accepted & ~DWORD{kAcceptPreshutdown};
    status.dwWin32ExitCode = record.win32ExitCode;
    status.dwServiceSpecificExitCode = record.serviceExitCode;
    status.dwCheckPoint = record.checkPoint;
    status.dwWaitHint = record.waitHint;
    SetServiceStatus(gStatusHandle.load(), &status);
  }
};

ManagerReporter gReporter;

// The launcher's own lines go straight to the error log's handle, stamped
// with the local time: no lock of the runtime library, which a thread of a
// hung application might hold, is needed.
class ErrorLogWriter : public ServiceLogWriter {
 public:
  void write(const std::string& line) override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    LogStamp stamp;
    putLogStamp(stamp, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    std::string text(stamp.text);
    text.append(line).append("\r\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
  }
};

ErrorLogWriter gLogWriter;
std::atomic<bool> gStartLineWritten{false};

// The file version of the program's own version resource, "1.2.3.4".
std::string programVersion() {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const auto* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  const DWORD size = data ? SizeofResource(nullptr, resource) : 0;
  // The fixed part follows the block's header and key at a 4-byte boundary.
  for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size && at < 128; at += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, data + at, sizeof info);
    if (info.dwSignature != 0xFEEF04BD) continue;
    const DWORD parts[] = {HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                           HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS)};
    std::string version;
    DecimalBuffer number;
    for (DWORD part : parts) version.append(version.empty() ? "" : ".").append(decimal(part, number));
    return version;
  }
  return "not set";
}

// The first line of the service's run, once: when the VM is ready for
// main, or when the launch ended before that. The account is the one the
// process runs as, as the system names it ("SYSTEM", "LOCAL SERVICE", a
// user's name).
void writeStartLine(JNIEnv* env) {
  if (gStartLineWritten.exchange(true)) return;
  std::string runtime = modulePath(moduleOfVm(runningJavaVm()));
  std::string version;
  if (runtime.empty()) {
    runtime = version = "none";
  } else if (env == nullptr || !javaVersionOf(env, version) || version.empty()) {
    version = "unknown";
  }
  char account[257];
  DWORD size = sizeof account;
  if (!GetUserNameA(account, &size)) std::memcpy(account, "unknown", 8);
  gLogWriter.write(fillPlaceholders(
      "Service '%s' starting: version %s, qlx %s, account %s, runtime %s, Java %s.",
      {messageText(kMsgServiceName), programVersion(), kLauncherVersion, account, runtime, version},
      std::string::npos));
}

// The VM is ending the process in order (System.exit) with this code.
// A stop that came while the service was starting may end the process
// before main ran: the run still gets its first line (no Java asked then).
void onVmExit(int code) {
  gEndingThroughExit = true;
  writeStartLine(nullptr);
  serviceBridge().processEnding(true, code);
  // What is still on its way into a rotated log, the line just written
  // among it, must reach the file before the process goes.
  finishRotatedLogs();
}

// Runs on the service thread once the VM exists, before main.
void serviceStartHook() {
  JNIEnv* env = processState().vmHost->env();
  markRunAsService(env);
  observeVmExit(moduleOfVm(runningJavaVm()), onVmExit);
  writeStartLine(env);
}

void __cdecl stopThread(void*) { serviceBridge().runStop(runningJavaVm, endApplication); }

// The line goes straight to the error log's handle: no lock of the runtime
// library, which a thread of the hung application might hold, is needed.
[[noreturn]] void endOverrunningStop(uint32_t seconds) {
  // The application's last output, still on its way into a rotated log,
  // goes into the file first, and the line after it.
  drainRotatedLogs(2000);
  gLogWriter.write(stopOverrunLine(seconds));
  serviceBridge().reportForcedStop();
  TerminateProcess(GetCurrentProcess(), 1);
  for (;;) Sleep(INFINITE);
}

void __cdecl stopWatchThread(void*) {
  ServiceBridge& bridge = serviceBridge();
  for (uint32_t elapsed = 1000;; elapsed += 1000) {
    Sleep(1000);
    switch (bridge.advanceStop(elapsed)) {
      case ServiceBridge::StopProgress::Waiting:
        break;
      case ServiceBridge::StopProgress::Over:
        return;
      case ServiceBridge::StopProgress::Expired:
        endOverrunningStop(bridge.stopTimeoutSeconds());
    }
  }
}

void __cdecl fallbackThread(void*) {
  Sleep(3000);
  serviceBridge().reportRunningIfSilent();
}

unsigned __stdcall handlerCallThread(void* control) {
  serviceBridge().runHandlerCall(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(control)),
                                 runningJavaVm());
  return 0;
}

// The process ends through the runtime's exit without the code having
// been seen on its way (a library other than the VM called exit).
void onProcessExit() {
  writeStartLine(nullptr);
  serviceBridge().processEnding(false, 0);
}

void JNICALL exitHook(jint code) {
  gEndingThroughExit = true;
  writeStartLine(nullptr);
  serviceExitHook(code);
}

DWORD WINAPI serviceControlHandler(DWORD control, DWORD, void*, void*) {
  ServiceBridge& bridge = serviceBridge();
  switch (bridge.control(control)) {
    case ServiceBridge::FollowUp::None:
      break;
    case ServiceBridge::FollowUp::BeginStop:
      // The watch counts from the start of the stop, so the check point
      // advances during a long onStop too, and the bound covers it.
      _beginthread(stopWatchThread, 0, nullptr);
      _beginthread(stopThread, 0, nullptr);
      break;
    case ServiceBridge::FollowUp::CallHandler: {
      ScopedKernelHandle call(reinterpret_cast<HANDLE>(_beginthreadex(
          nullptr, 0, handlerCallThread, reinterpret_cast<void*>(uintptr_t{control}), 0, nullptr)));
      if (!call) {
        bridge.runHandlerCall(control, nullptr);  // no thread: obeyed without Java
      } else if (WaitForSingleObject(call.get(), kHandlerCallWaitMs) != WAIT_OBJECT_0) {
        bridge.handlerCallSlow(control);
      }
      break;
    }
  }
  // Every control is answered with the record, as the plain handler was.
  return NO_ERROR;
}

StringList listOf(int count, char** vector) {
  StringList list;
  for (int i = 0; i < count; ++i) list.emplace_back(vector[i] != nullptr ? vector[i] : "");
  return list;
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  ServiceBridge& bridge = serviceBridge();
  const std::string name = messageText(kMsgServiceName);
  gStatusHandle = RegisterServiceCtrlHandlerExA(name.c_str(), serviceControlHandler, nullptr);
  ProcessState& state = processState();
  if (state.context != nullptr) {
    bridge.setStopTimeout(stopTimeoutSeconds(stopTimeoutValue(*state.context)));
  }
  bridge.setLog(name, &gLogWriter);
  bridge.setReporter(&gReporter);
  _beginthread(fallbackThread, 0, nullptr);

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
  // the VM calls it, else through its call of exit (serviceStartHook routes
  // that through the launcher), both with the exit code; the runtime's exit
  // handler is the last resort.
  std::atexit(onProcessExit);
  if (state.vmHost != nullptr) {
    state.vmHost->addOption("exit", reinterpret_cast<void*>(&exitHook));
  }

  // A service whose log cannot be opened does not start (one line has
  // said which log and why): the manager, and /start, see it fail.
  const int result = state.logNotOpened != 0
                         ? state.logNotOpened
                         : launchApplication(first, serviceStartHook, second);
  writeStartLine(state.vmHost != nullptr ? state.vmHost->env() : nullptr);
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
  const bool served = StartServiceCtrlDispatcherA(table) != FALSE;
  // The dispatcher returns once the stopped state is reported. When the
  // VM's exit reported it, that thread is still on its way out through the
  // VM: destroying the VM or unloading its library here, under it, could
  // crash the process at its end. That thread ends the process.
  if (served && gEndingThroughExit) {
    for (;;) Sleep(INFINITE);
  }
  return served;
}

}  // namespace qlx
