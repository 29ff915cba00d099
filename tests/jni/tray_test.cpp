// The tray natives and the window thread's calls into Java on the real JVM
// with -Xcheck:jni: icons shown, hidden and finalised while notifications
// and menu commands arrive on a thread that is not attached, as the
// window's, as a daemon: a callback may keep a menu open for long, and the
// end of the application must not wait for it. Linux has no shell, so only
// the Java side is seen here.
#include <gtest/gtest.h>

#include <thread>

#include "jvm_fixture.h"
#include "tray/tray.h"
#include "vm/jni_glue.h"

extern "C" {
JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_init(JNIEnv*, jobject, jint, jstring,
                                                             jstring, jstring, jint);
JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Show(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Hide(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_finalize(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback(JNIEnv*, jobject,
                                                                              jobject);
}

namespace qlx::jnitest {
namespace {

// Everything the window thread would deliver, in order, from a fresh thread.
void deliver() {
  std::thread([] {
    dispatchMouseNotification(1, 0x201);
    dispatchMouseNotification(2, 0x202);  // hidden: no Java object
    dispatchMouseNotification(99, 0x200);  // no such icon
    dispatchMenuCommand(50000);
    dispatchMenuCommand(51000);
  }).join();
}

TEST(TrayJni, NotificationsReachTheCallbackOnlyForLiveRecords) {
  JNIEnv* env = sharedEnv();
  jclass trayClass = env->FindClass("com/tarnwick/qlx/SystemTray");
  jclass callbackClass = env->FindClass("qlxtest/TrayCallback");
  ASSERT_NE(trayClass, nullptr);
  ASSERT_NE(callbackClass, nullptr);
  // Without the constructor, which would need the launcher's natives bound.
  jobject first = env->AllocObject(trayClass);
  jobject second = env->AllocObject(trayClass);
  env->SetStaticObjectField(callbackClass,
                            env->GetStaticFieldID(callbackClass, "first",
                                                  "Lcom/tarnwick/qlx/SystemTray;"),
                            first);
  jstring tip = env->NewStringUTF("tip");
  Java_com_tarnwick_qlx_SystemTray_init(env, first, 1, tip, nullptr, nullptr, 0);
  Java_com_tarnwick_qlx_SystemTray_init(env, second, 1, tip, tip, tip, 1);
  jmethodID make = env->GetMethodID(callbackClass, "<init>", "()V");
  Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback(env, first,
                                                         env->NewObject(callbackClass, make));
  Java_com_tarnwick_qlx_SystemTray_Show(env, first);
  Java_com_tarnwick_qlx_SystemTray_Show(env, first);
  deliver();
  EXPECT_EQ(staticStringField(env, "qlxtest/TrayCallback", "calls"),
            "click first 513 daemon;click null 514 daemon;command 0 daemon;"
            "command 1000 daemon;");

  Java_com_tarnwick_qlx_SystemTray_Hide(env, first);
  Java_com_tarnwick_qlx_SystemTray_Hide(env, first);
  // `h` holds the icon's id, never an address, and finalize clears it.
  const intptr_t secondId = getHandleField(env, second, "h");
  EXPECT_EQ(secondId, getHandleField(env, first, "h") + 1);
  Java_com_tarnwick_qlx_SystemTray_finalize(env, second);
  EXPECT_EQ(getHandleField(env, second, "h"), 0);
  Java_com_tarnwick_qlx_SystemTray_finalize(env, second);  // the record is gone already
  setHandleField(env, second, "h", secondId);  // a stale copy reaches nothing either
  Java_com_tarnwick_qlx_SystemTray_Show(env, second);
  Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback(env, first, nullptr);
  deliver();  // no callback: all dropped
  EXPECT_EQ(staticStringField(env, "qlxtest/TrayCallback", "calls"),
            "click first 513 daemon;click null 514 daemon;command 0 daemon;"
            "command 1000 daemon;");
  Java_com_tarnwick_qlx_SystemTray_Show(env, first);
  Java_com_tarnwick_qlx_SystemTray_finalize(env, first);  // shown: its reference goes too
  EXPECT_TRUE(noPendingException(env));
  removeTrayIcons();
  env->DeleteLocalRef(tip);
  env->DeleteLocalRef(first);
  env->DeleteLocalRef(second);
  env->DeleteLocalRef(callbackClass);
  env->DeleteLocalRef(trayClass);
}

}  // namespace
}  // namespace qlx::jnitest
