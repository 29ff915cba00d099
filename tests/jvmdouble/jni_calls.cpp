// The double's JNI method and field functions: method ids, the calls in
// all three argument forms (routed to the fake Java library), instance and
// static fields kept by name.
#include <cstring>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

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

}  // namespace

void installCalls(JNINativeInterface_& t) {
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
}

}  // namespace jvmdouble
