// The natives of com.tarnwick.qlx.SystemTray. Each object keeps its icon
// record in the field `h`; none of them throws into Java, and an object
// without the field, or with a record that is gone, is left alone.
#include <jni.h>

#include "tray/tray_table.h"
#include "vm/jni_glue.h"

namespace {

// The narrow text of a Java string, or none for null.
struct OptionalText {
  OptionalText(JNIEnv* env, jstring text)
      : present(text != nullptr), value(qlx::toNativeString(env, text)) {}
  const std::string* get() const { return present ? &value : nullptr; }
  bool present;
  std::string value;
};

qlx::TrayIconRecord* recordOf(JNIEnv* env, jobject self) {
  return reinterpret_cast<qlx::TrayIconRecord*>(qlx::getHandleField(env, self, "h"));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_init(JNIEnv* env, jobject self,
                                                             jint iconId, jstring tip,
                                                             jstring info, jstring infoTitle,
                                                             jint infoFlags) {
  qlx::TrayTable& table = qlx::trayTable();
  if (table.vm.load() == nullptr) {
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) == JNI_OK) table.vm = vm;
  }
  if (!qlx::hasHandleField(env, self, "h")) return;
  const OptionalText tipText(env, tip), infoText(env, info), titleText(env, infoTitle);
  qlx::TrayIconRecord* record =
      table.add(iconId, {tipText.get(), infoText.get(), titleText.get()}, infoFlags);
  qlx::setHandleField(env, self, "h", reinterpret_cast<intptr_t>(record));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Show(JNIEnv* env, jobject self) {
  qlx::trayTable().show(env, self, recordOf(env, self));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Hide(JNIEnv* env, jobject self) {
  qlx::trayTable().hide(env, recordOf(env, self));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Change(JNIEnv* env, jobject self,
                                                               jint iconId, jstring tip,
                                                               jstring info, jstring infoTitle,
                                                               jint infoFlags) {
  qlx::TrayIconRecord* record = recordOf(env, self);
  if (record == nullptr) return;
  const OptionalText tipText(env, tip), infoText(env, info), titleText(env, infoTitle);
  qlx::trayTable().change(record, iconId, {tipText.get(), infoText.get(), titleText.get()},
                          infoFlags);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_finalize(JNIEnv* env, jobject self) {
  qlx::trayTable().finalize(env, recordOf(env, self));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_setSystemTrayCallback(JNIEnv* env,
                                                                              jobject,
                                                                              jobject callback) {
  qlx::trayTable().setCallback(env, callback);
}

}  // extern "C"

namespace qlx {

void removeTrayIcons() { trayTable().removeAll(); }

}  // namespace qlx
