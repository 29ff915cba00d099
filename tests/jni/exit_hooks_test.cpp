// The VM takes one exit hook; VmHost gives it one that calls every hook
// the launcher's parts registered, in order, with the exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "jvm_fixture.h"
#include "launcher/os.h"
#include "vm/vm_host.h"

namespace qlx::jnitest {
namespace {

void JNICALL firstHook(jint code) { std::fprintf(stderr, "first hook %d\n", static_cast<int>(code)); }
void JNICALL secondHook(jint code) {
  std::fprintf(stderr, "second hook %d\n", static_cast<int>(code));
}

[[noreturn]] void exitThroughTwoHooks() {
  VmHost host;
  host.addOption("exit", reinterpret_cast<void*>(&firstHook));
  host.addOption("-Xcheck:jni");
  host.addOption(std::string("-Djava.class.path=") + QLX_JNI_CLASSES);
  host.addOption("exit", reinterpret_cast<void*>(&secondHook));
  if (host.createVm(QLX_JNI_LIBJVM, systemOs()) != 0) std::_Exit(101);
  JNIEnv* env = host.env();
  jclass cls = env->FindClass("qlxtest/ServiceExit");
  jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  env->CallStaticVoidMethod(cls, main, nullptr);
  std::_Exit(102);  // System.exit never returns
}

TEST(LaunchExitHooks, EveryRegisteredHookRunsInOrder) {
  EXPECT_EXIT(exitThroughTwoHooks(), ::testing::ExitedWithCode(3),
              "shutdown hook ran(.|\n)*first hook 3\nsecond hook 3\n");
}

}  // namespace
}  // namespace qlx::jnitest
