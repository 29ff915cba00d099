// The end of the VM on the real JVM with -Xcheck:jni, each case in a
// process of its own (one VM per process): native threads still reach the
// application while its own threads run after main, are turned away once
// the VM's destruction begins, and a daemon thread that stays inside (a
// menu held open in a callback) neither holds up the end nor has the VM
// library unloaded under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "launcher/os.h"
#include "launcher/process_state.h"
#include "vm/jni_glue.h"
#include "vm/vm_gate.h"
#include "vm/vm_host.h"

namespace qlx::jnitest {
namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point begin) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count());
}

VmHost& startHost() {
  static VmHost host;
  host.addOption("-Xcheck:jni");
  host.addOption(std::string("-Djava.class.path=") + QLX_JNI_CLASSES);
  if (host.createVm(QLX_JNI_LIBJVM, systemOs()) != 0) std::_Exit(101);
  processState().vmHost = &host;
  return host;
}

[[noreturn]] void endWhileAThreadRuns() {
  VmHost& host = startHost();
  JNIEnv* env = host.env();
  jclass cls = env->FindClass("qlxtest/LateThread");
  env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, "start", "(J)V"), jlong{800});
  if (env->ExceptionCheck()) std::_Exit(102);
  env->DeleteLocalRef(cls);
  JavaVM* vm = host.javaVm();

  // A native thread calling in over and over, as a control handler or the
  // tray's window thread would, until the gate turns it away.
  std::atomic<int> entries{0};
  std::atomic<long> refusedAt{-1};
  const Clock::time_point begin = Clock::now();
  std::thread knocker([&] {
    for (;;) {
      VmThreadScope scope(vm);
      if (scope.refused()) {
        refusedAt = msSince(begin);
        return;
      }
      JNIEnv* env = scope.env();
      if (env != nullptr && env->FindClass("java/lang/String") != nullptr) ++entries;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  host.shutdownVm();
  const long ended = msSince(begin);
  knocker.join();
  VmThreadScope late(vm);
  std::fprintf(stderr, "entries %s, refused %s, late refused %d, unloaded %d\n",
               entries.load() > 10 ? "many" : "few",
               refusedAt.load() >= 700 && refusedAt.load() <= ended ? "after the thread" : "early",
               late.refused() ? 1 : 0, host.libraryLoaded() ? 0 : 1);
  std::fflush(stderr);
  std::_Exit(0);
}

TEST(LaunchVmEnd, NativeThreadsReachTheApplicationUntilItsThreadsEndThenNever) {
  EXPECT_EXIT(endWhileAThreadRuns(), ::testing::ExitedWithCode(0),
              "entries many, refused after the thread, late refused 1, unloaded 1");
}

[[noreturn]] void endWhileADaemonStaysInside() {
  VmHost& host = startHost();
  JavaVM* vm = host.javaVm();
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false, release = false;
  std::thread holder([&] {
    VmThreadScope scope(vm, true);
    std::unique_lock<std::mutex> lock(mutex);
    inside = scope.env() != nullptr;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return inside; });
  }
  const Clock::time_point begin = Clock::now();
  host.shutdownVm();
  const long took = msSince(begin);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    changed.notify_all();
  }
  holder.join();  // leaves without touching the destroyed VM
  std::fprintf(stderr, "ended %s, library %s\n",
               took >= 1900 && took < 10000 ? "after the daemon bound" : "at the wrong time",
               host.libraryLoaded() ? "kept" : "unloaded");
  std::fflush(stderr);
  std::_Exit(0);
}

TEST(LaunchVmEnd, ADaemonThreadInsideNeitherHoldsUpTheEndNorLosesTheLibrary) {
  EXPECT_EXIT(endWhileADaemonStaysInside(), ::testing::ExitedWithCode(0),
              "ended after the daemon bound, library kept");
}

}  // namespace
}  // namespace qlx::jnitest
