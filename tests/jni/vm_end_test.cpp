// The end of the VM on the real JVM: the VM takes one exit hook, and through
// it the host runs its end actions first and the exit hooks after them, with
// the code; a VM ended by DestroyJavaVM runs the end actions only.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "jvm_fixture.h"
#include "launcher/os.h"
#include "vm/vm_host.h"

namespace qlx::jnitest {
namespace {

void endAction(bool inExitHook) {
  std::fprintf(stderr, "end action, in exit hook: %d\n", inExitHook ? 1 : 0);
}

void JNICALL firstHook(jint code) {
  std::fprintf(stderr, "first hook %d\n", static_cast<int>(code));
}
void JNICALL secondHook(jint code) {
  std::fprintf(stderr, "second hook %d\n", static_cast<int>(code));
}

// System.exit(3) after a shutdown hook (qlxtest.ServiceExit); or main
// returns and the VM is destroyed.
[[noreturn]] void endTheVm(bool throughSystemExit) {
  VmHost host;
  host.addOption("exit", reinterpret_cast<void*>(&firstHook));
  host.addVmEndAction(&endAction);
  host.addExitHook(&secondHook);
  host.addOption("-Xcheck:jni");
  host.addOption(std::string("-Djava.class.path=") + QLX_JNI_CLASSES);
  if (host.createVm(QLX_JNI_LIBJVM, systemOs()) != 0) std::_Exit(101);
  if (throughSystemExit) {
    JNIEnv* env = host.env();
    jclass cls = env->FindClass("qlxtest/ServiceExit");
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    env->CallStaticVoidMethod(cls, main, nullptr);
    std::_Exit(102);  // System.exit never returns
  }
  host.shutdownVm();
  std::fprintf(stderr, "destroyed\n");
  std::_Exit(0);
}

TEST(VmEnd, SystemExitRunsEndActionsThenExitHooksInOrder) {
  EXPECT_EXIT(endTheVm(true), ::testing::ExitedWithCode(3),
              "shutdown hook ran\nend action, in exit hook: 1\nfirst hook 3\nsecond hook 3\n");
}

TEST(VmEnd, DestroyJavaVmRunsEndActionsOnly) {
  EXPECT_EXIT(endTheVm(false), ::testing::ExitedWithCode(0),
              "^end action, in exit hook: 0\ndestroyed\n$");
}

}  // namespace
}  // namespace qlx::jnitest
