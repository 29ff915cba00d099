// Shell notifications and menu commands into Java, on the window thread:
// one call of the tray callback per notification, the thread attached to
// the VM for just that call. It is attached as a daemon: a callback may
// hold a pop-up menu open for as long as the user likes, and the end of the
// application must not wait for that.
#include "launcher/process_state.h"
#include "tray/tray_table.h"
#include "vm/jni_glue.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

// The VM the first init saw, while it still runs: a notification that
// arrives after the application's VM was destroyed is dropped.
JavaVM* runningVm(TrayTable& table) {
  JavaVM* vm = table.vm.load();
  if (vm == nullptr || !table.hasCallback()) return nullptr;
  VmHost* host = processState().vmHost;
  if (host != nullptr && host->javaVm() == nullptr) return nullptr;
  return vm;
}

// The callback's method of that name, looked up at every call; null (and
// nothing pending) when the callback has none.
jmethodID callbackMethod(JNIEnv* env, jobject callback, const char* name, const char* signature) {
  jclass cls = env->GetObjectClass(callback);
  jmethodID method = env->GetMethodID(cls, name, signature);
  if (method == nullptr) checkException(env, false);
  env->DeleteLocalRef(cls);
  return method;
}

}  // namespace

void dispatchMouseNotification(uint32_t iconId, int32_t message) {
  TrayTable& table = trayTable();
  JavaVM* vm = runningVm(table);
  if (vm == nullptr) return;
  VmThreadScope scope(vm, true);
  JNIEnv* env = scope.env();
  if (env == nullptr) return;
  jobject callback = table.callback(env);  // cleared meanwhile: nothing to call
  if (callback == nullptr) return;
  if (jmethodID method = callbackMethod(env, callback, "OnMouseClick",
                                        "(Lcom/tarnwick/qlx/SystemTray;I)V")) {
    jobject tray = nullptr;
    if (table.objectOf(env, iconId, tray)) {
      env->CallVoidMethod(callback, method, tray, static_cast<jint>(message));
      checkException(env, true);
    }
    if (tray != nullptr) env->DeleteLocalRef(tray);
  }
  env->DeleteLocalRef(callback);
}

void dispatchMenuCommand(uint32_t command) {
  TrayTable& table = trayTable();
  JavaVM* vm = runningVm(table);
  if (vm == nullptr) return;
  VmThreadScope scope(vm, true);
  JNIEnv* env = scope.env();
  if (env == nullptr) return;
  jobject callback = table.callback(env);
  if (callback == nullptr) return;
  if (jmethodID method = callbackMethod(env, callback, "OnMenuCommand", "(I)V")) {
    env->CallVoidMethod(callback, method, static_cast<jint>(command - kFirstMenuCommand));
    checkException(env, true);
  }
  env->DeleteLocalRef(callback);
}

}  // namespace qlx
