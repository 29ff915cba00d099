// The service status bridge: how controls, Java reports, the fallback, the
// stop watch and the end of the process change the one status record.
#include "service/service_bridge.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "launcher/trace.h"
#include "vm/jni_glue.h"

namespace qlx {

namespace {

uint64_t steadyMs() { return monotonicMs(); }

const char* stopCause(uint32_t control) {
  switch (control) {
    case kControlShutdown: return "shutdown";
    case kControlPreshutdown: return "preshutdown";
    default: return "stop";
  }
}

jmethodID booleanMethod(JNIEnv* env, jclass cls, const char* name) {
  jmethodID id = env->GetMethodID(cls, name, "()Z");
  if (id == nullptr) checkException(env, false);
  return id;
}

}  // namespace

void ServiceBridge::setLog(const std::string& serviceName, ServiceLogWriter* writer) {
  LockGuard lock(mutex_);
  serviceName_ = serviceName;
  log_ = writer;
}

void ServiceBridge::setClock(uint64_t (*nowMs)()) {
  LockGuard lock(mutex_);
  nowMs_ = nowMs;
}

void ServiceBridge::setReporter(StatusReporter* reporter) {
  LockGuard lock(mutex_);
  reporter_ = reporter;
}

void ServiceBridge::setCommandLine(const StringList& arguments) {
  LockGuard lock(mutex_);
  commandLine_ = arguments;
}

void ServiceBridge::setStartParameters(const StringList& parameters) {
  LockGuard lock(mutex_);
  startParameters_ = parameters;
}

void ServiceBridge::statusFromJava(int status) {
  LockGuard lock(mutex_);
  reported_ = true;
  // A stop under way is not undone by a late report of the application.
  if (stopping_ || finished_) return;
  if (status == kServiceStartPending || status == kServiceRunning ||
      (status == kServicePaused && canPause_)) {
    record_.state = static_cast<uint32_t>(status);
    reportLocked();
  }
}

void ServiceBridge::installHandler(JNIEnv* env, jobject handler) {
  // The handler's own code (canPause) runs before the lock is taken: it may
  // well report a status itself.
  jobject global = nullptr;
  jmethodID onPause = nullptr, onContinue = nullptr, onStop = nullptr;
  bool canPause = false;
  if (handler != nullptr) {
    jclass cls = env->GetObjectClass(handler);
    if (jmethodID id = booleanMethod(env, cls, "canPause")) {
      canPause = (env->CallBooleanMethod(handler, id) & 0xFF) != 0;
      if (checkException(env, false)) canPause = false;
    }
    onPause = booleanMethod(env, cls, "onPause");
    onContinue = booleanMethod(env, cls, "onContinue");
    onStop = booleanMethod(env, cls, "onStop");
    global = env->NewGlobalRef(handler);
    env->DeleteLocalRef(cls);
  }

  jobject previous;
  {
    LockGuard lock(mutex_);
    previous = handler_;
    handler_ = global;
    onPause_ = onPause;
    onContinue_ = onContinue;
    onStop_ = onStop;
    uint32_t accepted = record_.controlsAccepted;
    if (handler != nullptr) {
      canPause_ = canPause;
      accepted = kAcceptStopControls | (canPause ? uint32_t{kAcceptPauseContinue} : 0u);
    } else {
      accepted &= ~static_cast<uint32_t>(kAcceptPauseContinue);
    }
    // A service that is stopping accepts no more controls.
    if (!stopping_ && !finished_) record_.controlsAccepted = accepted;
    if (!finished_) reportLocked();
  }
  if (previous != nullptr) env->DeleteGlobalRef(previous);
}

jobjectArray ServiceBridge::cachedArray(JNIEnv* env, jobjectArray& cache, const StringList& list) {
  LockGuard lock(mutex_);
  if (cache != nullptr) return cache;
  std::vector<const char*> pointers;
  pointers.reserve(list.size());
  for (const std::string& text : list) pointers.push_back(text.c_str());
  jobjectArray local = buildStringArray(env, static_cast<int>(pointers.size()), pointers.data(), 0,
                                        nullptr, 0, nullptr);
  if (local == nullptr) return nullptr;
  cache = static_cast<jobjectArray>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return cache;
}

jobjectArray ServiceBridge::commandLineArguments(JNIEnv* env) {
  return cachedArray(env, commandLineArray_, commandLine_);
}

jobjectArray ServiceBridge::startupParameters(JNIEnv* env) {
  return cachedArray(env, startParametersArray_, startParameters_);
}

bool ServiceBridge::callHandler(JNIEnv* env, jmethodID ServiceBridge::*method, bool& called) {
  called = false;
  jobject handler;
  jmethodID id;
  {
    LockGuard lock(mutex_);
    if (handler_ == nullptr || this->*method == nullptr) return false;
    // A local reference keeps the object alive should Java replace the
    // handler during the call.
    handler = env->NewLocalRef(handler_);
    id = this->*method;
  }
  if (handler == nullptr) return false;
  const bool result = (env->CallBooleanMethod(handler, id) & 0xFF) != 0;
  const bool threw = checkException(env, false);
  env->DeleteLocalRef(handler);
  called = true;
  return result && !threw;
}

void ServiceBridge::setStopTimeout(uint32_t seconds) {
  LockGuard lock(mutex_);
  stopTimeoutSeconds_ = seconds;
}

uint32_t ServiceBridge::stopTimeoutSeconds() {
  LockGuard lock(mutex_);
  return stopTimeoutSeconds_;
}

ServiceBridge::FollowUp ServiceBridge::control(uint32_t control) {
  LockGuard lock(mutex_);
  if (finished_) return FollowUp::None;
  if (stopping_) {
    reportLocked();  // a stop under way answers every control with its progress
    return FollowUp::None;
  }
  if (control == kControlStop || control == kControlShutdown || control == kControlPreshutdown) {
    // Stopped is reported when it is true: once the application's shutdown
    // hooks have run and the process ends (processEnding), or at the bound,
    // when the process is ended too.
    stopping_ = true;
    stopBeganMs_ = (nowMs_ != nullptr ? nowMs_ : steadyMs)();
    writeLocked("Service '%s' stop requested (%s).", stopCause(control));
    record_.state = kServiceStopPending;
    record_.controlsAccepted = 0;
    record_.checkPoint = 1;
    record_.waitHint = stopTimeoutSeconds_ * 1000;
    reportLocked();
    return FollowUp::BeginStop;
  }
  if (control == kControlPause || control == kControlContinue) {
    // The state is the manager's choice from now on: the fallback must not
    // turn a pause (or a pending one) back into running.
    reported_ = true;
    const bool pause = control == kControlPause;
    const jmethodID method = pause ? onPause_ : onContinue_;
    if (handler_ == nullptr || method == nullptr) {
      record_.state = pause ? kServicePaused : kServiceRunning;
    } else if (!handlerBusy_) {
      handlerBusy_ = true;
      stateBeforeCall_ = record_.state;
      return FollowUp::CallHandler;  // the call reports its outcome
    }
    // While a call is in Java, another control only learns the state.
  }
  reportLocked();
  return FollowUp::None;
}

void ServiceBridge::runStop(JavaVM* (*currentVm)(), void (*end)(JNIEnv* env)) {
  for (;;) {
    {
      VmThreadScope thread(currentVm());
      if (thread.env() != nullptr) {
        bool called;
        callHandler(thread.env(), &ServiceBridge::onStop_, called);  // its answer cannot veto
        end(thread.env());
        return;
      }
      // The VM is being destroyed: the service main reports the end.
      if (thread.refused()) return;
    }
    {
      LockGuard lock(mutex_);
      if (finished_) return;
    }
    // No VM yet (still being created): the stop reaches it once it exists.
    sleepMs(100);
  }
}

void ServiceBridge::runHandlerCall(uint32_t control, JavaVM* vm) {
  const bool pause = control == kControlPause;
  bool change = true;  // without the VM the control is simply obeyed
  {
    VmThreadScope thread(vm);
    if (thread.attached()) {
      if (thread.env() == nullptr) {
        change = false;
      } else {
        bool called;
        const bool answer = callHandler(thread.env(), pause ? &ServiceBridge::onPause_
                                                            : &ServiceBridge::onContinue_,
                                        called);
        change = !called || answer;
      }
    }
  }
  LockGuard lock(mutex_);
  handlerBusy_ = false;
  if (stopping_ || finished_) return;
  record_.state = change ? (pause ? kServicePaused : kServiceRunning) : stateBeforeCall_;
  reportLocked();
}

void ServiceBridge::handlerCallSlow(uint32_t control) {
  LockGuard lock(mutex_);
  if (!handlerBusy_ || stopping_ || finished_) return;
  record_.state = control == kControlPause ? kServicePausePending : kServiceContinuePending;
  reportLocked();
}

void ServiceBridge::reportRunningIfSilent() {
  LockGuard lock(mutex_);
  if (reported_ || stopping_ || finished_) return;
  reported_ = true;
  record_.state = kServiceRunning;
  reportLocked();
}

void ServiceBridge::reportFinished(int launchResult) {
  LockGuard lock(mutex_);
  if (finished_) return;
  if (launchResult != 0 && !stopping_) {
    finishLocked(kErrorServiceSpecific, static_cast<uint32_t>(launchResult));
  } else {
    finishLocked(0, 0);
  }
}

ServiceBridge::StopProgress ServiceBridge::advanceStop(uint32_t elapsedMs) {
  LockGuard lock(mutex_);
  if (finished_) return StopProgress::Over;
  if (!stopping_) return StopProgress::Waiting;  // the handler has not begun the stop yet
  if (elapsedMs >= stopTimeoutSeconds_ * 1000) return StopProgress::Expired;
  ++record_.checkPoint;
  reportLocked();
  return StopProgress::Waiting;
}

void ServiceBridge::reportForcedStop() {
  LockGuard lock(mutex_);
  forced_ = true;  // the overrun line says how the stop ended
  if (!finished_) finishLocked(0, 0);  // the stop was asked for: no failure
}

void ServiceBridge::processEnding(bool codeKnown, int code) {
  LockGuard lock(mutex_);
  if (finished_ || reporter_ == nullptr) return;
  if (stopping_) {
    finishLocked(0, 0);  // a requested stop ends cleanly, whatever the code
  } else if (!codeKnown) {
    finishLocked(kErrorProcessAborted, 0);
  } else if (code != 0) {
    finishLocked(kErrorServiceSpecific, static_cast<uint32_t>(code));
  } else {
    finishLocked(0, 0);
  }
}

void ServiceBridge::reportLocked() {
  if (reporter_ != nullptr) reporter_->report(record_);
}

void ServiceBridge::writeLocked(const char* format, std::string_view a, std::string_view b) {
  if (log_ != nullptr) log_->write(fillPlaceholders(format, {serviceName_, a, b}));
}

void ServiceBridge::finishLocked(uint32_t win32ExitCode, uint32_t serviceExitCode) {
  DecimalBuffer first, second;
  if (stopping_ && !forced_) {
    const uint64_t now = (nowMs_ != nullptr ? nowMs_ : steadyMs)();
    const uint64_t tenths = ((now > stopBeganMs_ ? now - stopBeganMs_ : 0) + 50) / 100;
    writeLocked("Service '%s' stop finished in %s.%s s.", decimal(tenths / 10, first),
                decimal(tenths % 10, second));
  }
  const uint32_t code = win32ExitCode == kErrorServiceSpecific ? serviceExitCode : win32ExitCode;
  writeLocked("Service '%s' ended, exit code %s.",
              win32ExitCode == kErrorProcessAborted ? "unknown" : decimal(code, first));
  finished_ = true;
  record_.state = kServiceStopped;
  record_.controlsAccepted = 0;
  record_.win32ExitCode = win32ExitCode;
  record_.serviceExitCode = win32ExitCode == kErrorServiceSpecific ? serviceExitCode : 0;
  record_.checkPoint = 0;
  record_.waitHint = 0;
  reportLocked();
}

ServiceBridge& serviceBridge() {
  std::atomic<ServiceBridge*>& shared = processState().serviceBridge;
  if (ServiceBridge* bridge = shared.load()) return *bridge;
  // The first mapping of the launcher to ask publishes its own; it lives as
  // long as the process (no destructor work, so natives may run at exit).
  ServiceBridge* const own = new ServiceBridge;
  ServiceBridge* expected = nullptr;
  if (!shared.compare_exchange_strong(expected, own)) delete own;  // another thread was first
  return *shared.load();
}

void markRunAsService(JNIEnv* env) {
  jclass manager = env->FindClass("com/tarnwick/qlx/ServiceStatusManager");
  if (manager != nullptr) {
    jfieldID field = env->GetStaticFieldID(manager, "isRunAsService", "Z");
    if (field != nullptr) env->SetStaticBooleanField(manager, field, JNI_TRUE);
    checkException(env, false);
    env->DeleteLocalRef(manager);
  }
  // An archive without the support classes simply does not use them.
  checkException(env, false);
}

void endApplication(JNIEnv* env) {
  callSystemExit(env, 0);
  checkException(env, false);
}

std::string stopOverrunLine(uint32_t seconds) {
  DecimalBuffer number;
  return fillPlaceholders("The service stop took longer than %s s; the process is ended.",
                          {decimal(seconds, number)});
}

void putLogStamp(LogStamp& stamp, int year, int month, int day, int hour, int minute, int second) {
  std::memcpy(stamp.text, "0000-00-00 00:00:00 qlx: ", sizeof stamp.text);
  const int values[] = {year, month, day, hour, minute, second};
  // Where each field's last digit stands; the digits run leftwards to the
  // separator before it.
  static const unsigned char kLastDigit[] = {3, 6, 9, 12, 15, 18};
  for (int i = 0; i < 6; ++i) {
    int value = values[i];
    for (int at = kLastDigit[i]; at >= 0 && stamp.text[at] == '0'; --at) {
      stamp.text[at] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  }
}

void JNICALL serviceExitHook(jint code) {
  serviceBridge().processEnding(true, static_cast<int>(code));
  std::fflush(nullptr);
}

void chooseServiceArguments(const std::string& mainargv, const StringList& commandLine,
                            const StringList& startParameters, StringList& first,
                            StringList& second) {
  first.clear();
  second.clear();
  if (equalsIgnoreCase(mainargv, "sc")) {
    first = startParameters;
    second = commandLine;
  } else if (equalsIgnoreCase(mainargv, "c")) {
    first = commandLine;
  } else if (equalsIgnoreCase(mainargv, "s")) {
    first = startParameters;
  } else {
    first = commandLine;
    second = startParameters;
  }
}

}  // namespace qlx
