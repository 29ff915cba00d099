// The natives of com.tarnwick.qlx.SystemTray. Each object keeps its icon
// record's id in the field `h`; none of them throws into Java, and an object
// without the field, or with a record that is gone, is left alone.
#include <jni.h>

#include <cstdint>

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

// The icon's id; ids fit the field whether it is a long or an int.
uint32_t idOf(JNIEnv* env, jobject self) {
  const intptr_t value = qlx::getHandleField(env, self, "h");
  return value > 0 && value <= INT32_MAX ? static_cast<uint32_t>(value) : 0;
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
  qlx::setHandleField(env, self, "h", static_cast<intptr_t>(record->id));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Show(JNIEnv* env, jobject self) {
  qlx::trayTable().show(env, self, idOf(env, self));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Hide(JNIEnv* env, jobject self) {
  qlx::trayTable().hide(env, idOf(env, self));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_Change(JNIEnv* env, jobject self,
                                                               jint iconId, jstring tip,
                                                               jstring info, jstring infoTitle,
                                                               jint infoFlags) {
  const uint32_t id = idOf(env, self);
  if (id == 0) return;
  const OptionalText tipText(env, tip), infoText(env, info), titleText(env, infoTitle);
  qlx::trayTable().change(id, iconId, {tipText.get(), infoText.get(), titleText.get()},
                          infoFlags);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTray_finalize(JNIEnv* env, jobject self) {
  // The field is cleared too: a later call (the collector's after an
  // explicit one) then finds nothing to act on.
  const uint32_t id = idOf(env, self);
  if (id == 0) return;
  qlx::trayTable().finalize(env, id);
  qlx::setHandleField(env, self, "h", 0);
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
