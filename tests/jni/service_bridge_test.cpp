// The service status bridge on the real JVM with -Xcheck:jni: the handler's
// installation and replacement, its answers to controls arriving on a
// thread of their own (as the dispatcher's), the cached argument arrays, the
// start hook, and the exit hook that reports how the VM ended.
#include "service/service_bridge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "jvm_fixture.h"
#include "launcher/os.h"

namespace qlx::jnitest {
namespace {

struct Recorder : StatusReporter {
  std::vector<ServiceStatusRecord> sent;
  void report(const ServiceStatusRecord& record) override { sent.push_back(record); }
};

jobject newHandler(JNIEnv* env, bool canPause, bool pauseAnswer) {
  jclass cls = env->FindClass("qlxtest/RecordingHandler");
  jmethodID ctor = env->GetMethodID(cls, "<init>", "(ZZ)V");
  jobject handler = env->NewObject(cls, ctor, canPause, pauseAnswer);
  env->DeleteLocalRef(cls);
  return handler;
}

std::string takeCalls(JNIEnv* env) {
  std::string calls = staticStringField(env, "qlxtest/RecordingHandler", "calls");
  jclass cls = env->FindClass("qlxtest/RecordingHandler");
  jstring empty = env->NewStringUTF("");
  env->SetStaticObjectField(cls, env->GetStaticFieldID(cls, "calls", "Ljava/lang/String;"), empty);
  env->DeleteLocalRef(empty);
  env->DeleteLocalRef(cls);
  return calls;
}

JNIEnv* gEndedWith = nullptr;
void recordEnd(JNIEnv* env) { gEndedWith = env; }

// A control as the manager sends it, on a thread that is not attached, and
// whatever it asks for on threads of their own, as the platform starts
// them. The dispatcher's part must not call Java: no call is recorded
// before the follow-up runs. The handler's calls so far stay recorded.
void controlFromOtherThread(ServiceBridge& bridge, uint32_t control, bool* stopThreadStarted) {
  JNIEnv* env = sharedEnv();
  const std::string before = staticStringField(env, "qlxtest/RecordingHandler", "calls");
  ServiceBridge::FollowUp followUp = ServiceBridge::FollowUp::None;
  std::thread([&] { followUp = bridge.control(control); }).join();
  EXPECT_EQ(staticStringField(env, "qlxtest/RecordingHandler", "calls"), before)
      << "the dispatcher thread called Java";
  if (followUp == ServiceBridge::FollowUp::CallHandler) {
    std::thread([&] { bridge.runHandlerCall(control, sharedVm().javaVm()); }).join();
  } else if (followUp == ServiceBridge::FollowUp::BeginStop) {
    *stopThreadStarted = true;
    std::thread([&] { bridge.runStop([] { return sharedVm().javaVm(); }, recordEnd); }).join();
  }
}

TEST(ServiceBridgeJni, HandlerAnswersControls) {
  JNIEnv* env = sharedEnv();
  ServiceBridge bridge;
  Recorder recorder;
  bridge.setReporter(&recorder);
  bool stopThread = false;
  takeCalls(env);

  jobject pausing = newHandler(env, true, false);
  bridge.installHandler(env, pausing);
  EXPECT_EQ(takeCalls(env), "canPause;");
  EXPECT_EQ(recorder.sent.back().controlsAccepted, kAcceptStopControls | kAcceptPauseContinue);
  bridge.statusFromJava(kServicePaused);
  EXPECT_EQ(recorder.sent.back().state, kServicePaused);
  controlFromOtherThread(bridge, kControlContinue, &stopThread);
  EXPECT_EQ(recorder.sent.back().state, kServiceRunning);
  controlFromOtherThread(bridge, kControlPause,
                         &stopThread);  // onPause answers false
  EXPECT_EQ(recorder.sent.back().state, kServiceRunning);
  EXPECT_EQ(takeCalls(env), "onContinue;onPause;");

  // A second handler replaces the first; one that cannot pause takes the
  // pause controls away, and so does clearing the handler.
  jobject steady = newHandler(env, false, true);
  bridge.installHandler(env, steady);
  EXPECT_EQ(takeCalls(env), "canPause;");
  EXPECT_EQ(recorder.sent.back().controlsAccepted, kAcceptStopControls);
  const size_t reports = recorder.sent.size();
  bridge.statusFromJava(kServicePaused);
  EXPECT_EQ(recorder.sent.size(), reports);
  controlFromOtherThread(bridge, kControlPause,
                         &stopThread);  // arrives anyway: onPause is asked
  EXPECT_EQ(recorder.sent.back().state, kServicePaused);
  EXPECT_EQ(takeCalls(env), "onPause;");

  // A call that is slow is reported as pending, and its answer decides.
  bridge.installHandler(env, pausing);
  takeCalls(env);
  ASSERT_EQ(bridge.control(kControlPause), ServiceBridge::FollowUp::CallHandler);
  EXPECT_EQ(bridge.control(kControlContinue), ServiceBridge::FollowUp::None);  // one at a time
  bridge.handlerCallSlow(kControlPause);
  EXPECT_EQ(recorder.sent.back().state, kServicePausePending);
  std::thread([&] { bridge.runHandlerCall(kControlPause, sharedVm().javaVm()); }).join();
  EXPECT_EQ(recorder.sent.back().state, kServicePaused);  // where it was before the call
  EXPECT_EQ(takeCalls(env), "onPause;");

  // The stop: onStop runs on the stop thread, its exception is cleared,
  // its answer cannot veto, and the application is ended after it.
  controlFromOtherThread(bridge, kControlStop, &stopThread);
  EXPECT_TRUE(stopThread);
  EXPECT_NE(gEndedWith, nullptr);
  EXPECT_EQ(takeCalls(env), "onStop;");
  EXPECT_EQ(recorder.sent.back().state, kServiceStopPending);
  EXPECT_EQ(bridge.advanceStop(1000), ServiceBridge::StopProgress::Waiting);
  EXPECT_EQ(recorder.sent.back().checkPoint, 2u);

  bridge.installHandler(env, nullptr);  // releases the last global reference
  env->DeleteLocalRef(pausing);
  env->DeleteLocalRef(steady);
  EXPECT_TRUE(noPendingException(env));
}

TEST(ServiceBridgeJni, ArgumentArraysAreCachedAndStartHookMarksTheService) {
  JNIEnv* env = sharedEnv();
  ServiceBridge bridge;
  bridge.setCommandLine({"x", "y z"});
  jobjectArray first = bridge.commandLineArguments(env);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(env->IsSameObject(first, bridge.commandLineArguments(env)));
  ASSERT_EQ(env->GetArrayLength(first), 2);
  jstring second = static_cast<jstring>(env->GetObjectArrayElement(first, 1));
  EXPECT_EQ(utf8Of(env, second), "y z");
  env->DeleteLocalRef(second);
  jobjectArray parameters = bridge.startupParameters(env);
  ASSERT_NE(parameters, nullptr);
  EXPECT_EQ(env->GetArrayLength(parameters), 0);
  EXPECT_TRUE(env->IsSameObject(parameters, bridge.startupParameters(env)));

  EXPECT_FALSE(staticBooleanField(env, "com/tarnwick/qlx/ServiceStatusManager", "isRunAsService"));
  markRunAsService(env);
  EXPECT_TRUE(staticBooleanField(env, "com/tarnwick/qlx/ServiceStatusManager", "isRunAsService"));
  EXPECT_TRUE(noPendingException(env));
}

// The VM calls the exit hook after the shutdown hooks, with the code.
struct PrintingReporter : StatusReporter {
  void report(const ServiceStatusRecord& r) override {
    std::fprintf(stderr, "state=%u win32=%u specific=%u\n", r.state, r.win32ExitCode,
                 r.serviceExitCode);
  }
};

[[noreturn]] void exitThroughTheHook() {
  static PrintingReporter reporter;
  serviceBridge().setReporter(&reporter);
  VmHost host;
  host.addOption("exit", reinterpret_cast<void*>(&serviceExitHook));
  host.addOption("-Xcheck:jni");
  host.addOption(std::string("-Djava.class.path=") + QLX_JNI_CLASSES);
  if (host.createVm(QLX_JNI_LIBJVM, systemOs()) != 0) std::_Exit(101);
  JNIEnv* env = host.env();
  jclass cls = env->FindClass("qlxtest/ServiceExit");
  jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  env->CallStaticVoidMethod(cls, main, nullptr);
  std::_Exit(102);  // System.exit never returns
}

TEST(LaunchServiceExit, ExitHookReportsTheCodeAfterTheShutdownHooks) {
  EXPECT_EXIT(exitThroughTheHook(), ::testing::ExitedWithCode(3),
              "shutdown hook ran(.|\n)*state=1 win32=1066 specific=3");
}

}  // namespace
}  // namespace qlx::jnitest
