// The natives of com.tarnwick.qlx.SystemTrayMenu. Each object keeps the id
// of its pop-up menu (menu_table.h) in `h`; sub-menus are kept alive
// through the object's `popups` set, so their objects live as long as the
// menu they belong to.
#include <jni.h>

#include <cstdint>

#include "tray/menu_table.h"
#include "tray/tray.h"
#include "vm/jni_glue.h"

namespace {

uint32_t idOf(JNIEnv* env, jobject self) {
  const intptr_t value = qlx::getHandleField(env, self, "h");
  return value > 0 && value <= INT32_MAX ? static_cast<uint32_t>(value) : 0;
}

intptr_t menuOf(JNIEnv* env, jobject self) { return qlx::menuTable().handleOf(idOf(env, self)); }

// The set `popups` of this object, or null (nothing pending) without one.
jobject popupsOf(JNIEnv* env, jobject self) {
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, "popups", "Ljava/util/HashSet;");
  env->DeleteLocalRef(cls);
  if (field == nullptr) {
    qlx::checkException(env, false);
    return nullptr;
  }
  return env->GetObjectField(self, field);
}

void addToSet(JNIEnv* env, jobject set, jobject element) {
  jclass cls = env->GetObjectClass(set);
  jmethodID add = env->GetMethodID(cls, "add", "(Ljava/lang/Object;)Z");
  if (add != nullptr) env->CallBooleanMethod(set, add, element);
  qlx::checkException(env, false);
  env->DeleteLocalRef(cls);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTrayMenu_init(JNIEnv* env, jobject self) {
  if (!qlx::hasHandleField(env, self, "h")) return;
  qlx::setHandleField(env, self, "h", static_cast<intptr_t>(qlx::menuTable().create()));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2I(
    JNIEnv* env, jobject self, jstring label, jint id) {
  const intptr_t menu = menuOf(env, self);
  if (menu == 0) return;
  // Numbers outside 0..1000 still make items; their commands never reach Java.
  qlx::appendMenuItem(menu, qlx::toNativeString(env, label),
                      static_cast<uint32_t>(id) + qlx::kFirstMenuCommand);
}

JNIEXPORT void JNICALL
Java_com_tarnwick_qlx_SystemTrayMenu_Append__Ljava_lang_String_2Lcom_tarnwick_qlx_SystemTrayMenu_2(
    JNIEnv* env, jobject self, jstring label, jobject submenu) {
  if (!qlx::hasHandleField(env, self, "h")) return;
  jobject popups = popupsOf(env, self);
  if (popups == nullptr) return;
  const uint32_t menu = idOf(env, self);
  const uint32_t child = submenu != nullptr ? idOf(env, submenu) : 0;
  addToSet(env, popups, submenu);
  env->DeleteLocalRef(popups);
  if (menu == 0) return;
  qlx::menuTable().appendSubmenu(menu, qlx::toNativeString(env, label), child);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTrayMenu_AppendSeparator(JNIEnv* env,
                                                                            jobject self) {
  const intptr_t menu = menuOf(env, self);
  if (menu != 0) qlx::appendMenuSeparator(menu);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTrayMenu_Popup(JNIEnv* env, jobject self) {
  const intptr_t menu = menuOf(env, self);
  if (menu != 0) qlx::popupMenu(menu);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_SystemTrayMenu_finalize(JNIEnv* env, jobject self) {
  const uint32_t id = idOf(env, self);
  if (id == 0) return;
  qlx::menuTable().release(id);
  qlx::setHandleField(env, self, "h", 0);
}

}  // extern "C"
