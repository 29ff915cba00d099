// The JNI function table of the double. Only the functions the launcher
// and its natives use are real; every other slot ends the process with
// exit code 97 and the slot's index and name, so a new use is never silent.
#include <cstring>
#include <set>
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

// ---- methods

jmethodID lookupMethod(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic) {
  Object* c = need(cls, Kind::Class, isStatic ? "GetStaticMethodID" : "GetMethodID");
  logLine("%s %s %s", isStatic ? "getStaticMethod" : "getMethod", name, sig);
  if (sig == nullptr || sig[0] != '(') fail(98, "method %s: malformed signature", name);
  if (isStatic && strcmp(name, "main") == 0 && mainMethodMissing()) {
    throwNew(env, "java/lang/NoSuchMethodError", "main");
    return nullptr;
  }
  return newMethodId(Method{c->className, name, sig, isStatic});
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  enter(env, "GetMethodID");
  return lookupMethod(env, cls, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  enter(env, "GetStaticMethodID");
  return lookupMethod(env, cls, name, sig, true);
}

// Argument kinds of a signature: one letter per argument (L for references).
std::string argumentKinds(const std::string& sig) {
  std::string kinds;
  size_t i = 1;
  while (i < sig.size() && sig[i] != ')') {
    size_t start = i;
    while (sig[i] == '[') ++i;
    if (sig[i] == 'L') i = sig.find(';', i);
    kinds += (i > start || sig[start] == 'L') ? 'L' : sig[start];
    ++i;
  }
  return kinds;
}

std::vector<jvalue> decode(const Method& m, va_list ap) {
  std::vector<jvalue> out;
  for (char k : argumentKinds(m.signature)) {
    jvalue v;
    v.j = 0;
    switch (k) {
      case 'Z':
        v.z = (jboolean)va_arg(ap, int);
        break;
      case 'B':
        v.b = (jbyte)va_arg(ap, int);
        break;
      case 'C':
        v.c = (jchar)va_arg(ap, int);
        break;
      case 'S':
        v.s = (jshort)va_arg(ap, int);
        break;
      case 'I':
        v.i = (jint)va_arg(ap, int);
        break;
      case 'J':
        v.j = va_arg(ap, jlong);
        break;
      case 'F':
        v.f = (jfloat)va_arg(ap, double);
        break;
      case 'D':
        v.d = va_arg(ap, double);
        break;
      default:
        v.l = va_arg(ap, jobject);
        break;
    }
    out.push_back(v);
  }
  return out;
}

void checkReturn(const Method& m, const char* kinds, const char* where) {
  char r = m.signature[m.signature.find(')') + 1];
  if (r == '[') r = 'L';
  if (strchr(kinds, r) == nullptr)
    fail(98, "%s on %s%s", where, m.name.c_str(), m.signature.c_str());
}

jvalue call(JNIEnv* env, jobject target, jmethodID id, const jvalue* args, bool isStatic,
            const char* kinds, const char* where) {
  enter(env, where);
  const Method* m = method(id, where);
  if (m->isStatic != isStatic)
    fail(98, "%s with a %s method id", where, isStatic ? "instance" : "static");
  checkReturn(*m, kinds, where);
  Object* t = deref(target, where);
  if (t == nullptr) fail(98, "%s: null %s", where, isStatic ? "class" : "object");
  return invokeMethod(env, isStatic ? nullptr : target, *m, args);
}

template <typename R>
R pick(const jvalue& v);
template <>
jobject pick<jobject>(const jvalue& v) {
  return v.l;
}
template <>
jboolean pick<jboolean>(const jvalue& v) {
  return v.z;
}
template <>
jint pick<jint>(const jvalue& v) {
  return v.i;
}
template <>
jlong pick<jlong>(const jvalue& v) {
  return v.j;
}

// One family (Object, Boolean, Int, Long) of static and instance calls in
// the three argument forms.
template <typename R, char Kind>
struct Calls {
  static constexpr char kKinds[2] = {Kind, 0};
  static R JNICALL callV(JNIEnv* env, jobject obj, jmethodID id, va_list ap) {
    auto args = decode(*method(id, "Call<T>MethodV"), ap);
    return pick<R>(call(env, obj, id, args.data(), false, kKinds, "Call<T>Method"));
  }
  static R JNICALL callA(JNIEnv* env, jobject obj, jmethodID id, const jvalue* args) {
    return pick<R>(call(env, obj, id, args, false, kKinds, "Call<T>MethodA"));
  }
  static R JNICALL callVar(JNIEnv* env, jobject obj, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    R r = callV(env, obj, id, ap);
    va_end(ap);
    return r;
  }
  static R JNICALL staticV(JNIEnv* env, jclass cls, jmethodID id, va_list ap) {
    auto args = decode(*method(id, "CallStatic<T>MethodV"), ap);
    return pick<R>(call(env, cls, id, args.data(), true, kKinds, "CallStatic<T>Method"));
  }
  static R JNICALL staticA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
    return pick<R>(call(env, cls, id, args, true, kKinds, "CallStatic<T>MethodA"));
  }
  static R JNICALL staticVar(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    R r = staticV(env, cls, id, ap);
    va_end(ap);
    return r;
  }
};

void JNICALL CallVoidMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list ap) {
  auto args = decode(*method(id, "CallVoidMethodV"), ap);
  call(env, obj, id, args.data(), false, "V", "CallVoidMethod");
}
void JNICALL CallVoidMethodA(JNIEnv* env, jobject obj, jmethodID id, const jvalue* args) {
  call(env, obj, id, args, false, "V", "CallVoidMethodA");
}
void JNICALL CallVoidMethod(JNIEnv* env, jobject obj, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  CallVoidMethodV(env, obj, id, ap);
  va_end(ap);
}
void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list ap) {
  auto args = decode(*method(id, "CallStaticVoidMethodV"), ap);
  call(env, cls, id, args.data(), true, "V", "CallStaticVoidMethod");
}
void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  call(env, cls, id, args, true, "V", "CallStaticVoidMethodA");
}
void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  CallStaticVoidMethodV(env, cls, id, ap);
  va_end(ap);
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list) {
  enter(env, "NewObject");
  Object* c = need(cls, Kind::Class, "NewObject");
  const Method* m = method(id, "NewObject");
  logLine("new %s%s", c->className.c_str(), m->signature.c_str());
  return newLocalRef(newObject(Kind::Plain, c->className));
}
jobject JNICALL NewObjectA(JNIEnv* env, jclass cls, jmethodID id, const jvalue*) {
  va_list none{};
  return NewObjectV(env, cls, id, none);
}
jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list ap;
  va_start(ap, id);
  jobject r = NewObjectV(env, cls, id, ap);
  va_end(ap);
  return r;
}

// ---- fields: stored by name in the object; a Java class declares what
// the test's support classes declare, so every lookup succeeds.

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  enter(env, "GetFieldID");
  Object* c = need(cls, Kind::Class, "GetFieldID");
  logLine("getField %s %s", name, sig);
  std::string missing = envValue("QLX_JVM_NO_FIELD");  // "NAME:SIG" a test wants absent
  if (!missing.empty() && missing == std::string(name) + ":" + sig) {
    throwNew(env, "java/lang/NoSuchFieldError", name);
    return nullptr;
  }
  return newFieldId(Field{c->className, name, sig, false});
}

jfieldID JNICALL GetStaticFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  enter(env, "GetStaticFieldID");
  Object* c = need(cls, Kind::Class, "GetStaticFieldID");
  logLine("getStaticField %s.%s %s", c->className.c_str(), name, sig);
  std::string missing = envValue("QLX_JVM_NO_FIELD");
  if (!missing.empty() && missing == std::string(name) + ":" + sig) {
    throwNew(env, "java/lang/NoSuchFieldError", name);
    return nullptr;
  }
  return newFieldId(Field{c->className, name, sig, true});
}

std::map<std::string, jlong>& staticFields() {
  static auto* fields = new std::map<std::string, jlong>;
  return *fields;
}

template <typename T, char Sig>
struct StaticFields {
  static const Field* check(JNIEnv* env, jclass cls, jfieldID id, const char* where) {
    enter(env, where);
    const Field* f = field(id, where);
    if (!f->isStatic || f->signature.size() != 1 || f->signature[0] != Sig) {
      fail(98, "%s on %s %s", where, f->name.c_str(), f->signature.c_str());
    }
    need(cls, Kind::Class, where);
    return f;
  }
  static T JNICALL get(JNIEnv* env, jclass cls, jfieldID id) {
    const Field* f = check(env, cls, id, "GetStatic<T>Field");
    HeapLock lock;
    return (T)staticFields()[f->className + "." + f->name];
  }
  static void JNICALL set(JNIEnv* env, jclass cls, jfieldID id, T value) {
    const Field* f = check(env, cls, id, "SetStatic<T>Field");
    HeapLock lock;
    staticFields()[f->className + "." + f->name] = (jlong)value;
    logLine("setStaticField %s.%s=%lld", f->className.c_str(), f->name.c_str(), (long long)value);
  }
};

template <typename T, char Sig>
struct Fields {
  static T JNICALL get(JNIEnv* env, jobject obj, jfieldID id) {
    enter(env, "Get<T>Field");
    const Field* f = field(id, "Get<T>Field");
    if (f->isStatic || f->signature.size() != 1 || f->signature[0] != Sig)
      fail(98, "Get<T>Field on %s %s", f->name.c_str(), f->signature.c_str());
    Object* o = deref(obj, "Get<T>Field");
    if (o == nullptr) fail(98, "Get<T>Field: null object");
    HeapLock lock;
    return (T)o->fields[f->name];
  }
  static void JNICALL set(JNIEnv* env, jobject obj, jfieldID id, T value) {
    enter(env, "Set<T>Field");
    const Field* f = field(id, "Set<T>Field");
    if (f->isStatic || f->signature.size() != 1 || f->signature[0] != Sig)
      fail(98, "Set<T>Field on %s %s", f->name.c_str(), f->signature.c_str());
    Object* o = deref(obj, "Set<T>Field");
    if (o == nullptr) fail(98, "Set<T>Field: null object");
    HeapLock lock;
    o->fields[f->name] = (jlong)value;
    logLine("setField %s=%lld", f->name.c_str(), (long long)value);
  }
};

// ---- strings

jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
  enter(env, "NewString");
  if (length < 0 || (units == nullptr && length > 0)) fail(98, "NewString: bad arguments");
  return newString(std::u16string(reinterpret_cast<const char16_t*>(units), length));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
  enter(env, "NewStringUTF");
  if (utf == nullptr) return nullptr;
  return newString(utf8ToUtf16(utf));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring s) {
  enter(env, "GetStringLength");
  return (jsize)need(s, Kind::String, "GetStringLength")->text.size();
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring s) {
  enter(env, "GetStringUTFLength");
  return (jsize)utf16ToModifiedUtf8(need(s, Kind::String, "GetStringUTFLength")->text).size();
}

std::set<const void*>& outstanding() {
  static auto* s = new std::set<const void*>;
  return *s;
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring s, jboolean* isCopy) {
  enter(env, "GetStringChars");
  const std::u16string& text = need(s, Kind::String, "GetStringChars")->text;
  jchar* copy = new jchar[text.size() + 1];
  memcpy(copy, text.data(), text.size() * sizeof(jchar));
  copy[text.size()] = 0;
  if (isCopy) *isCopy = JNI_TRUE;
  HeapLock lock;
  outstanding().insert(copy);
  return copy;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring s, const jchar* chars) {
  threadOf(env);
  need(s, Kind::String, "ReleaseStringChars");
  {
    HeapLock lock;
    if (outstanding().erase(chars) != 1) fail(98, "ReleaseStringChars of a buffer not handed out");
  }
  delete[] chars;
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring s, jboolean* isCopy) {
  enter(env, "GetStringUTFChars");
  std::string utf = utf16ToModifiedUtf8(need(s, Kind::String, "GetStringUTFChars")->text);
  char* copy = new char[utf.size() + 1];
  memcpy(copy, utf.c_str(), utf.size() + 1);
  if (isCopy) *isCopy = JNI_TRUE;
  HeapLock lock;
  outstanding().insert(copy);
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring s, const char* chars) {
  threadOf(env);
  need(s, Kind::String, "ReleaseStringUTFChars");
  {
    HeapLock lock;
    if (outstanding().erase(chars) != 1)
      fail(98, "ReleaseStringUTFChars of a buffer not handed out");
  }
  delete[] chars;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring s, jsize start, jsize len, jchar* buf) {
  enter(env, "GetStringRegion");
  const std::u16string& text = need(s, Kind::String, "GetStringRegion")->text;
  if (start < 0 || len < 0 || (size_t)start + len > text.size()) {
    throwNew(env, "java/lang/StringIndexOutOfBoundsException", "");
    return;
  }
  memcpy(buf, text.data() + start, len * sizeof(jchar));
}

// ---- arrays

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  enter(env, "GetArrayLength");
  HeapLock lock;
  Object* a = deref(array, "GetArrayLength");
  if (a == nullptr) fail(98, "GetArrayLength: null");
  if (a->kind == Kind::ObjectArray) return (jsize)a->items.size();
  if (a->kind == Kind::ByteArray) return (jsize)a->bytes.size();
  fail(98, "GetArrayLength: not an array");
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
  enter(env, "NewObjectArray");
  Object* c = need(cls, Kind::Class, "NewObjectArray");
  logLine("newObjectArray %s %ld", c->className.c_str(), (long)length);
  if (length < 0) {
    throwNew(env, "java/lang/NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  Object* a = newObject(Kind::ObjectArray, "[L" + c->className + ";");
  Object* first = deref(init, "NewObjectArray");
  a->items.assign(length, first ? newGlobalRef(first) : nullptr);
  return static_cast<jobjectArray>(newLocalRef(a));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
  enter(env, "GetObjectArrayElement");
  HeapLock lock;
  Object* a = need(array, Kind::ObjectArray, "GetObjectArrayElement");
  if (index < 0 || (size_t)index >= a->items.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", std::to_string(index));
    return nullptr;
  }
  Object* item = deref(a->items[index], "GetObjectArrayElement");
  return item ? newLocalRef(item) : nullptr;
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
  enter(env, "SetObjectArrayElement");
  HeapLock lock;
  Object* a = need(array, Kind::ObjectArray, "SetObjectArrayElement");
  if (index < 0 || (size_t)index >= a->items.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", std::to_string(index));
    return;
  }
  Object* v = deref(value, "SetObjectArrayElement");
  a->items[index] = v ? newGlobalRef(v) : nullptr;
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length) {
  enter(env, "NewByteArray");
  if (length < 0) {
    throwNew(env, "java/lang/NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  Object* a = newObject(Kind::ByteArray, "[B");
  a->bytes.assign(length, '\0');
  return static_cast<jbyteArray>(newLocalRef(a));
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
  enter(env, "GetByteArrayRegion");
  HeapLock lock;
  Object* a = need(array, Kind::ByteArray, "GetByteArrayRegion");
  if (start < 0 || len < 0 || (size_t)start + len > a->bytes.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", "");
    return;
  }
  memcpy(buf, a->bytes.data() + start, len);
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
  enter(env, "SetByteArrayRegion");
  HeapLock lock;
  Object* a = need(array, Kind::ByteArray, "SetByteArrayRegion");
  if (start < 0 || len < 0 || (size_t)start + len > a->bytes.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", "");
    return;
  }
  memcpy(&a->bytes[start], buf, len);
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
  t.GetMethodID = GetMethodID;
  t.GetStaticMethodID = GetStaticMethodID;
  t.NewObject = NewObject;
  t.NewObjectV = NewObjectV;
  t.NewObjectA = NewObjectA;
  t.CallObjectMethod = Calls<jobject, 'L'>::callVar;
  t.CallObjectMethodV = Calls<jobject, 'L'>::callV;
  t.CallObjectMethodA = Calls<jobject, 'L'>::callA;
  t.CallBooleanMethod = Calls<jboolean, 'Z'>::callVar;
  t.CallBooleanMethodV = Calls<jboolean, 'Z'>::callV;
  t.CallBooleanMethodA = Calls<jboolean, 'Z'>::callA;
  t.CallIntMethod = Calls<jint, 'I'>::callVar;
  t.CallIntMethodV = Calls<jint, 'I'>::callV;
  t.CallIntMethodA = Calls<jint, 'I'>::callA;
  t.CallLongMethod = Calls<jlong, 'J'>::callVar;
  t.CallLongMethodV = Calls<jlong, 'J'>::callV;
  t.CallLongMethodA = Calls<jlong, 'J'>::callA;
  t.CallVoidMethod = CallVoidMethod;
  t.CallVoidMethodV = CallVoidMethodV;
  t.CallVoidMethodA = CallVoidMethodA;
  t.CallStaticObjectMethod = Calls<jobject, 'L'>::staticVar;
  t.CallStaticObjectMethodV = Calls<jobject, 'L'>::staticV;
  t.CallStaticObjectMethodA = Calls<jobject, 'L'>::staticA;
  t.CallStaticBooleanMethod = Calls<jboolean, 'Z'>::staticVar;
  t.CallStaticBooleanMethodV = Calls<jboolean, 'Z'>::staticV;
  t.CallStaticBooleanMethodA = Calls<jboolean, 'Z'>::staticA;
  t.CallStaticIntMethod = Calls<jint, 'I'>::staticVar;
  t.CallStaticIntMethodV = Calls<jint, 'I'>::staticV;
  t.CallStaticIntMethodA = Calls<jint, 'I'>::staticA;
  t.CallStaticLongMethod = Calls<jlong, 'J'>::staticVar;
  t.CallStaticLongMethodV = Calls<jlong, 'J'>::staticV;
  t.CallStaticLongMethodA = Calls<jlong, 'J'>::staticA;
  t.CallStaticVoidMethod = CallStaticVoidMethod;
  t.CallStaticVoidMethodV = CallStaticVoidMethodV;
  t.CallStaticVoidMethodA = CallStaticVoidMethodA;
  t.GetFieldID = GetFieldID;
  t.GetLongField = Fields<jlong, 'J'>::get;
  t.SetLongField = Fields<jlong, 'J'>::set;
  t.GetIntField = Fields<jint, 'I'>::get;
  t.SetIntField = Fields<jint, 'I'>::set;
  t.GetBooleanField = Fields<jboolean, 'Z'>::get;
  t.SetBooleanField = Fields<jboolean, 'Z'>::set;
  t.GetStaticFieldID = GetStaticFieldID;
  t.GetStaticBooleanField = StaticFields<jboolean, 'Z'>::get;
  t.SetStaticBooleanField = StaticFields<jboolean, 'Z'>::set;
  t.GetStaticIntField = StaticFields<jint, 'I'>::get;
  t.SetStaticIntField = StaticFields<jint, 'I'>::set;
  t.GetStaticLongField = StaticFields<jlong, 'J'>::get;
  t.SetStaticLongField = StaticFields<jlong, 'J'>::set;
  t.NewString = NewString;
  t.NewStringUTF = NewStringUTF;
  t.GetStringLength = GetStringLength;
  t.GetStringUTFLength = GetStringUTFLength;
  t.GetStringChars = GetStringChars;
  t.ReleaseStringChars = ReleaseStringChars;
  t.GetStringUTFChars = GetStringUTFChars;
  t.ReleaseStringUTFChars = ReleaseStringUTFChars;
  t.GetStringRegion = GetStringRegion;
  t.GetArrayLength = GetArrayLength;
  t.NewObjectArray = NewObjectArray;
  t.GetObjectArrayElement = GetObjectArrayElement;
  t.SetObjectArrayElement = SetObjectArrayElement;
  t.NewByteArray = NewByteArray;
  t.GetByteArrayRegion = GetByteArrayRegion;
  t.SetByteArrayRegion = SetByteArrayRegion;
  return t;
}

}  // namespace

const JNINativeInterface_* functionTable() {
  static const JNINativeInterface_ table = buildTable();
  return &table;
}

}  // namespace jvmdouble
