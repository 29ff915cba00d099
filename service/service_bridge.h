// The service status bridge: the one status record of the service, the
// Java handler that answers pause, continue and stop, the argument arrays
// Java reads, and the rules by which the manager's controls, the Java side,
// the fallback thread and the end of the process change the record.
//
// Every thread of a service touches this state (the dispatcher thread runs
// the control handler, the service thread the application, plus the
// fallback, stop and stop-watch threads and any Java thread), so one lock
// guards it. Java code never runs under that lock: a handler may report a
// status from inside onStop.
//
// The platform sends each record through a StatusReporter
// (service_runtime_win.cpp: SetServiceStatus); without one (console runs,
// Linux) nothing is reported.
#pragma once

#include <jni.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "launcher/text.h"

namespace qlx {

// The manager's numbers, so a record is sent as it stands.
enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServicePaused = 7,
};
enum ServiceAccept : uint32_t {
  kAcceptStop = 1,
  kAcceptPauseContinue = 2,
  kAcceptShutdown = 4,
};
enum ServiceControl : uint32_t {
  kControlStop = 1,
  kControlPause = 2,
  kControlContinue = 3,
  kControlInterrogate = 4,
  kControlShutdown = 5,
};
constexpr uint32_t kErrorServiceSpecific = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR

// While a stop is under way the check point advances every second and the
// manager is told to expect progress within this time.
constexpr uint32_t kStopWaitHintMs = 5000;
// A stop that has not ended the process after this long is reported as
// finished anyway, so the manager is never left waiting on a hung
// application.
constexpr uint32_t kStopBoundMs = 20000;

struct ServiceStatusRecord {
  uint32_t state = kServiceRunning;
  uint32_t controlsAccepted = kAcceptStop | kAcceptShutdown;
  uint32_t win32ExitCode = 0;
  uint32_t serviceExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  virtual void report(const ServiceStatusRecord& record) = 0;
};

class ServiceBridge {
 public:
  // The service main connects the reporter once the handler is registered.
  void setReporter(StatusReporter* reporter);
  // The lists Java reads through getCommandLineArguments and
  // getStartupParameters; kept for the life of the process.
  void setCommandLine(const StringList& arguments);
  void setStartParameters(const StringList& parameters);

  // --- the natives -------------------------------------------------------
  void statusFromJava(int status);
  void installHandler(JNIEnv* env, jobject handler);
  // The same global array object on every call (null only when the VM
  // cannot allocate it).
  jobjectArray commandLineArguments(JNIEnv* env);
  jobjectArray startupParameters(JNIEnv* env);

  // --- the manager's side ------------------------------------------------
  // A control from the manager. `vm` is the running VM (null before it
  // exists); `startStopThread` starts the thread that ends the application
  // (called only after onStop, with the handler thread attached).
  void control(uint32_t control, JavaVM* vm, const std::function<void()>& startStopThread);
  bool stopRequested();

  // --- the service main and its helper threads ---------------------------
  // The fallback after three silent seconds, and the report after main has
  // returned: RUNNING unless something was reported already.
  void reportRunningIfSilent();
  // The application has finished (the VM is destroyed). launchResult is 0
  // or the message id of a failed launch, which reaches the manager as a
  // service-specific error.
  void reportFinished(int launchResult);
  // One second of a stop has passed; false when the stop watch may end.
  bool advanceStop(uint32_t elapsedMs);
  // The process is ending inside the VM (System.exit). With a known exit
  // code (the VM's exit hook) any end is reported; without one only the end
  // of a requested stop is, since a silent end at least tells the manager
  // that the service died.
  void processEnding(bool codeKnown, int code);


 private:
  void reportLocked();
  void finishLocked(uint32_t win32ExitCode, uint32_t serviceExitCode);
  jobjectArray cachedArray(JNIEnv* env, jobjectArray& cache, const StringList& list);
  // Calls a "()Z" method of the handler on this (attached) thread; false
  // when there is no handler or no such method.
  bool callHandler(JNIEnv* env, jmethodID ServiceBridge::*method, bool& called);

  std::mutex mutex_;
  StatusReporter* reporter_ = nullptr;
  ServiceStatusRecord record_;
  bool reported_ = false;
  bool stopping_ = false;
  bool finished_ = false;

  jobject handler_ = nullptr;  // global reference
  jmethodID onPause_ = nullptr;
  jmethodID onContinue_ = nullptr;
  jmethodID onStop_ = nullptr;
  bool canPause_ = false;

  StringList commandLine_;
  StringList startParameters_;
  jobjectArray commandLineArray_ = nullptr;  // global references, never released
  jobjectArray startParametersArray_ = nullptr;
};

// The bridge of the process (shared by both mappings of the launcher on
// Linux, where the JVM loads it a second time).
ServiceBridge& serviceBridge();

// The hook run once the VM exists and before main: tells the application it
// runs as a service (ServiceStatusManager.isRunAsService).
void markRunAsService(JNIEnv* env);

// The stop thread's work: System.exit(0) on a thread of its own.
void endApplication(JavaVM* vm);

// The VM's "exit" hook: the exit code, after the shutdown hooks.
void JNICALL serviceExitHook(jint code);

// The argument lists of main by `mainargv`: "sc", "c", "s", else "cs".
void chooseServiceArguments(const std::string& mainargv, const StringList& commandLine,
                            const StringList& startParameters, StringList& first,
                            StringList& second);

}  // namespace qlx
