// The service status bridge: the one status record of the service, the
// Java handler that answers pause, continue and stop, the argument arrays
// Java reads, and the rules by which the manager's controls, the Java side,
// the fallback thread and the end of the process change the record.
//
// Every thread of a service touches this state (the dispatcher thread runs
// the control handler, the service thread the application, plus the
// fallback, stop, stop-watch and handler-call threads and any Java thread),
// so one lock guards it. Java code never runs under that lock: a handler
// may report a status from inside onStop.
//
// The dispatcher thread never runs Java code: onStop runs on the stop
// thread, followed by System.exit(0); onPause and onContinue run on a
// thread of their own, which the dispatcher waits for only briefly.
//
// The platform sends each record through a StatusReporter
// (service_runtime_win.cpp: SetServiceStatus), and the launcher's own lines
// about the service (stop requested, how it ended) through a
// ServiceLogWriter, which stamps them into the error log; without them
// (console runs, Linux) nothing is reported or written.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/text.h"
#include "launcher/threading.h"
#include "service/service_numbers.h"

namespace qlx {

constexpr uint32_t kErrorServiceSpecific = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
constexpr uint32_t kErrorProcessAborted = 1067;   // ERROR_PROCESS_ABORTED

// How long the dispatcher thread waits for onPause or onContinue before it
// reports the control as pending and returns to the manager.
constexpr uint32_t kHandlerCallWaitMs = 1000;

struct ServiceStatusRecord {
  uint32_t state = kServiceRunning;
  uint32_t controlsAccepted = kAcceptStopControls;
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

class ServiceLogWriter {
 public:
  virtual ~ServiceLogWriter() = default;
  // One line, without its line end.
  virtual void write(const std::string& line) = 0;
};

class ServiceBridge {
 public:
  // The service's name for the log lines, and where they go.
  void setLog(const std::string& serviceName, ServiceLogWriter* writer);
  // The clock of the stop's duration (milliseconds, any origin).
  void setClock(uint64_t (*nowMs)());
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
  // The stop bound (`stoptimeout`); the wait hint of a stop is based on it.
  void setStopTimeout(uint32_t seconds);
  uint32_t stopTimeoutSeconds();

  // What the platform starts after a control has been answered.
  enum class FollowUp {
    None,
    BeginStop,    // the stop thread (runStop) and the stop watch
    CallHandler,  // a thread for runHandlerCall; wait kHandlerCallWaitMs
  };
  // A control from the manager, on the dispatcher thread: decides and
  // reports at once, without calling Java.
  FollowUp control(uint32_t control);
  // The stop thread: onStop, then `end` (System.exit(0)), with the thread
  // attached. A VM still being created is waited for; nothing is done once
  // the VM is ending or the service has finished.
  void runStop(JavaVM* (*currentVm)(), void (*end)(JNIEnv* env));
  // The handler-call thread of a pause or continue: asks the handler and
  // reports the state it decides.
  void runHandlerCall(uint32_t control, JavaVM* vm);
  // The dispatcher stopped waiting for that call: reported as pending.
  void handlerCallSlow(uint32_t control);

  // --- the service main and its helper threads ---------------------------
  // The fallback after three silent seconds, and the report after main has
  // returned: RUNNING unless something was reported already.
  void reportRunningIfSilent();
  // The application has finished (the VM is destroyed). launchResult is 0
  // or the message id of a failed launch, which reaches the manager as a
  // service-specific error.
  void reportFinished(int launchResult);
  // One second of a stop has passed. Expired: the bound is reached; the
  // platform writes the log line, calls reportForcedStop and ends the
  // process at once.
  enum class StopProgress { Waiting, Over, Expired };
  StopProgress advanceStop(uint32_t elapsedMs);
  void reportForcedStop();
  // The process is ending in order without main having returned: inside
  // the VM's exit (System.exit), with the code where it is known (the VM's
  // exit hook, or its call of the runtime's exit), or from the runtime's
  // exit without one. A requested stop ends cleanly whatever the code; any
  // other end is reported with its code, or as an aborted process when the
  // code is unknown: a manager must never be left showing a dead process
  // as running.
  void processEnding(bool codeKnown, int code);


 private:
  void reportLocked();
  void finishLocked(uint32_t win32ExitCode, uint32_t serviceExitCode);
  // A line of the log: "%s" is the service's name, then a and b.
  void writeLocked(const char* format, std::string_view a = {}, std::string_view b = {});
  jobjectArray cachedArray(JNIEnv* env, jobjectArray& cache, const StringList& list);
  // Calls a "()Z" method of the handler on this (attached) thread; false
  // when there is no handler or no such method.
  bool callHandler(JNIEnv* env, jmethodID ServiceBridge::*method, bool& called);

  Lock mutex_;
  StatusReporter* reporter_ = nullptr;
  ServiceLogWriter* log_ = nullptr;
  std::string serviceName_;
  uint64_t (*nowMs_)() = nullptr;
  uint64_t stopBeganMs_ = 0;
  bool forced_ = false;  // ended at the stop bound
  ServiceStatusRecord record_;
  bool reported_ = false;
  bool stopping_ = false;
  bool finished_ = false;
  uint32_t stopTimeoutSeconds_ = 20;
  bool handlerBusy_ = false;     // a pause or continue call is in Java
  uint32_t stateBeforeCall_ = 0;  // restored when the handler refuses

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

// The end of the stop thread's work: System.exit(0).
void endApplication(JNIEnv* env);

// The line written to the error log when a stop overran its bound.
std::string stopOverrunLine(uint32_t seconds);

// "2024-05-01 09:30:05 qlx: " before a line of the launcher's own.
struct LogStamp {
  char text[26];  // with its NUL
};
void putLogStamp(LogStamp& stamp, int year, int month, int day, int hour, int minute, int second);

// The VM's "exit" hook: the exit code, after the shutdown hooks.
void JNICALL serviceExitHook(jint code);

// The argument lists of main by `mainargv`: "sc", "c", "s", else "cs".
void chooseServiceArguments(const std::string& mainargv, const StringList& commandLine,
                            const StringList& startParameters, StringList& first,
                            StringList& second);

}  // namespace qlx
