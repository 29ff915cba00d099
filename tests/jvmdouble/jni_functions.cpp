// The JNI function table of the double. Only the functions the launcher
// and its natives use are real; every other slot ends the process with
// exit code 97 and the slot's index and name, so a new use is never silent.
// This file holds the table and the class, reference and exception
// functions; jni_calls.cpp and jni_data.cpp add the others.
#include <utility>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

// Slot names in table order, generated from jni.h at build time.
const char* const kSlotNames[] = {
#include "jni_slot_names.inc"
};
constexpr size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(sizeof(kSlotNames) / sizeof(kSlotNames[0]) == kSlotCount,
              "slot name table does not match jni.h");

template <size_t Index>
void JNICALL unimplemented() {
  fail(97, "unimplemented JNI function %u (%s)", (unsigned)Index, kSlotNames[Index]);
}

template <size_t... I>
void fillUnimplemented(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&unimplemented<I>)), ...);
}

}  // namespace

// JNI forbids most calls while an exception is pending; a real VM's
// behaviour is then undefined, so the double refuses.
void enter(JNIEnv* env, const char* name) {
  ThreadEnv* t = threadOf(env);
  if (t->pending != nullptr) {
    Object* e = deref(t->pending, name);
    fail(98, "%s called with %s pending", name, e->className.c_str());
  }
}

Object* need(jobject ref, Kind kind, const char* where) {
  Object* o = deref(ref, where);
  if (o == nullptr) fail(98, "%s: null reference", where);
  if (o->kind != kind) fail(98, "%s: reference of the wrong kind", where);
  return o;
}

namespace {

// ---- classes, references, exceptions

jint JNICALL GetVersion(JNIEnv* env) {
  enter(env, "GetVersion");
  return JNI_VERSION_1_8;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  enter(env, "FindClass");
  logLine("findClass %s", name);
  std::string n = name;
  if (n.find('.') != std::string::npos || n.empty() ||
      (n == "java/lang/System" && systemClassMissing()) || mainClassMissing(n)) {
    throwNew(env, "java/lang/NoClassDefFoundError", n);
    return nullptr;
  }
  return static_cast<jclass>(newLocalRef(classObject(n)));
}

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
  enter(env, "Throw");
  Object* e = deref(obj, "Throw");
  if (e == nullptr) fail(98, "Throw: null");
  threadOf(env)->pending = static_cast<jthrowable>(newGlobalRef(e));
  logLine("throw %s", e->className.c_str());
  return 0;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass cls, const char* message) {
  enter(env, "ThrowNew");
  Object* c = need(cls, Kind::Class, "ThrowNew");
  throwNew(env, c->className.c_str(), message ? message : "");
  logLine("throw %s %s", c->className.c_str(), message ? message : "");
  return 0;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  ThreadEnv* t = threadOf(env);
  if (t->pending == nullptr) return nullptr;
  return static_cast<jthrowable>(newLocalRef(deref(t->pending, "ExceptionOccurred")));
}

void JNICALL ExceptionDescribe(JNIEnv* env) { describe(env); }

void JNICALL ExceptionClear(JNIEnv* env) {
  ThreadEnv* t = threadOf(env);
  if (t->pending != nullptr) logLine("clear %s", deref(t->pending, "clear")->className.c_str());
  t->pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  return threadOf(env)->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv*, const char* message) { fail(99, "FatalError: %s", message); }

jint JNICALL PushLocalFrame(JNIEnv* env, jint) {
  threadOf(env);
  return 0;
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
  threadOf(env);
  return result == nullptr ? nullptr : newLocalRef(deref(result, "PopLocalFrame"));
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  threadOf(env);
  return ref == nullptr ? nullptr : newGlobalRef(deref(ref, "NewGlobalRef"));
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  threadOf(env);
  if (ref != nullptr && !isGlobalRef(ref)) fail(98, "DeleteGlobalRef of a local reference");
  deleteRef(ref, "DeleteGlobalRef");
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  threadOf(env);
  if (ref != nullptr && isGlobalRef(ref)) fail(98, "DeleteLocalRef of a global reference");
  deleteRef(ref, "DeleteLocalRef");
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  threadOf(env);
  return ref == nullptr ? nullptr : newLocalRef(deref(ref, "NewLocalRef"));
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint) {
  enter(env, "EnsureLocalCapacity");
  return 0;
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
  enter(env, "IsSameObject");
  return deref(a, "IsSameObject") == deref(b, "IsSameObject") ? JNI_TRUE : JNI_FALSE;
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
  enter(env, "GetObjectClass");
  Object* o = deref(obj, "GetObjectClass");
  if (o == nullptr) fail(98, "GetObjectClass: null");
  return static_cast<jclass>(newLocalRef(classObject(o->className)));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass cls) {
  enter(env, "IsInstanceOf");
  Object* o = deref(obj, "IsInstanceOf");
  Object* c = need(cls, Kind::Class, "IsInstanceOf");
  return (o == nullptr || o->className == c->className) ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL MonitorEnter(JNIEnv* env, jobject) {
  enter(env, "MonitorEnter");
  return 0;
}

jint JNICALL MonitorExit(JNIEnv* env, jobject) {
  threadOf(env);
  return 0;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
  enter(env, "GetJavaVM");
  *vm = theVm();
  return 0;
}

JNINativeInterface_ buildTable() {
  JNINativeInterface_ t;
  fillUnimplemented(reinterpret_cast<void**>(&t), std::make_index_sequence<kSlotCount>());
  t.GetVersion = GetVersion;
  t.FindClass = FindClass;
  t.Throw = Throw;
  t.ThrowNew = ThrowNew;
  t.ExceptionOccurred = ExceptionOccurred;
  t.ExceptionDescribe = ExceptionDescribe;
  t.ExceptionClear = ExceptionClear;
  t.ExceptionCheck = ExceptionCheck;
  t.FatalError = FatalError;
  t.PushLocalFrame = PushLocalFrame;
  t.PopLocalFrame = PopLocalFrame;
  t.NewGlobalRef = NewGlobalRef;
  t.DeleteGlobalRef = DeleteGlobalRef;
  t.DeleteLocalRef = DeleteLocalRef;
  t.NewLocalRef = NewLocalRef;
  t.EnsureLocalCapacity = EnsureLocalCapacity;
  t.IsSameObject = IsSameObject;
  t.GetObjectClass = GetObjectClass;
  t.IsInstanceOf = IsInstanceOf;
  t.MonitorEnter = MonitorEnter;
  t.MonitorExit = MonitorExit;
  t.GetJavaVM = GetJavaVM;
  installCalls(t);
  installData(t);
  return t;
}

}  // namespace

const JNINativeInterface_* functionTable() {
  static const JNINativeInterface_ table = buildTable();
  return &table;
}

}  // namespace jvmdouble
