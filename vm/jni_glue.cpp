// The JNI glue shared by every native family: pending exceptions, native
// handle fields, string conversions, String[] building, class lookup by a
// dotted name, System.exit and the context class loader.
#include "vm/jni_glue.h"

#include "launcher/process_state.h"
#include "vm/vm_gate.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

// Looks up `name` as a long field, else as an int field. Exactly one of the
// two IDs is set on success; no NoSuchFieldError is left pending.
bool findHandleField(JNIEnv* env, jclass cls, const char* name, jfieldID& longField,
                     jfieldID& intField) {
  longField = env->GetFieldID(cls, name, "J");
  if (longField != nullptr) return true;
  checkException(env, false);
  intField = env->GetFieldID(cls, name, "I");
  if (intField != nullptr) return true;
  checkException(env, false);
  return false;
}

}  // namespace

bool checkException(JNIEnv* env, bool describe) {
  jthrowable pending = env->ExceptionOccurred();
  if (pending == nullptr) return false;
  if (describe) env->ExceptionDescribe();
  env->ExceptionClear();
  // Natives run this many times per call; the reference must not pile up
  // in the caller's local frame.
  env->DeleteLocalRef(pending);
  return true;
}

bool hasHandleField(JNIEnv* env, jobject object, const char* name) {
  if (object == nullptr) return false;
  jclass cls = env->GetObjectClass(object);
  jfieldID longField = nullptr, intField = nullptr;
  const bool found = findHandleField(env, cls, name, longField, intField);
  env->DeleteLocalRef(cls);
  return found;
}

intptr_t getHandleField(JNIEnv* env, jobject object, const char* name) {
  if (object == nullptr) return 0;
  jclass cls = env->GetObjectClass(object);
  jfieldID longField = nullptr, intField = nullptr;
  intptr_t value = 0;
  if (findHandleField(env, cls, name, longField, intField)) {
    if (longField != nullptr)
      value = static_cast<intptr_t>(env->GetLongField(object, longField));
    else
      value = static_cast<intptr_t>(static_cast<int32_t>(env->GetIntField(object, intField)));
  }
  env->DeleteLocalRef(cls);
  return value;
}

bool setHandleField(JNIEnv* env, jobject object, const char* name, intptr_t value) {
  if (object == nullptr) return false;
  jclass cls = env->GetObjectClass(object);
  jfieldID longField = nullptr, intField = nullptr;
  const bool found = findHandleField(env, cls, name, longField, intField);
  if (found) {
    if (longField != nullptr)
      env->SetLongField(object, longField, static_cast<jlong>(value));
    else
      env->SetIntField(object, intField,
                       static_cast<jint>(static_cast<int32_t>(static_cast<uint32_t>(value))));
  }
  env->DeleteLocalRef(cls);
  return found;
}

std::string toNativeString(JNIEnv* env, jstring text) {
  if (text == nullptr) return std::string();
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) {
    checkException(env, false);  // OutOfMemoryError
    return std::string();
  }
  std::u16string units;
  units.reserve(static_cast<size_t>(length));
  for (jsize i = 0; i < length && chars[i] != 0; ++i) units.push_back(static_cast<char16_t>(chars[i]));
  env->ReleaseStringChars(text, chars);
  return utf16ToNarrow(units);
}

jstring toJavaString(JNIEnv* env, const char* text) {
  const std::u16string units = text != nullptr ? narrowToUtf16(text) : std::u16string();
  size_t length = 0;
  while (length < units.size() && units[length] != 0) ++length;
  return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(length));
}

jobjectArray buildStringArray(JNIEnv* env, int count1, const char* const* list1, int count2,
                              const char* const* list2, int count3, const char* const* list3) {
  const int counts[3] = {count1 > 0 ? count1 : 0, count2 > 0 ? count2 : 0,
                         count3 > 0 ? count3 : 0};
  const char* const* lists[3] = {list1, list2, list3};
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) {
    checkException(env, false);
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(counts[0] + counts[1] + counts[2], stringClass, nullptr);
  if (array == nullptr) {
    checkException(env, false);
    env->DeleteLocalRef(stringClass);
    return nullptr;
  }
  jsize index = 0;
  for (int l = 0; l < 3; ++l) {
    for (int i = 0; i < counts[l]; ++i) {
      const char* text = lists[l] != nullptr ? lists[l][i] : nullptr;
      jstring element = toJavaString(env, text != nullptr ? text : "");
      if (element == nullptr) {
        // Out of memory: the slot stays null rather than calling into the
        // VM with the exception pending.
        checkException(env, false);
        ++index;
        continue;
      }
      env->SetObjectArrayElement(array, index++, element);
      env->DeleteLocalRef(element);
    }
  }
  checkException(env, false);
  env->DeleteLocalRef(stringClass);
  return array;
}

jclass findClassDotted(JNIEnv* env, const std::string& name) {
  std::string slashed = name;
  for (char& c : slashed)
    if (c == '.') c = '/';
  jclass cls = env->FindClass(slashed.c_str());
  if (cls == nullptr) checkException(env, true);
  return cls;
}

VmThreadScope::VmThreadScope(JavaVM* vm, bool daemon) : vm_(vm), daemon_(daemon) {
  if (vm_ == nullptr) return;
  const VmGate::Entry entry = vmGate().enter(vm_, daemon_);
  if (entry == VmGate::Entry::Refused) {
    refused_ = true;
    vm_ = nullptr;
    return;
  }
  entered_ = entry == VmGate::Entry::Entered;
  void* env = nullptr;
  if (vm_->GetEnv(&env, JNI_VERSION_1_2) == JNI_OK) {
    env_ = static_cast<JNIEnv*>(env);
    return;
  }
  env = nullptr;
  attachedHere_ = (daemon ? vm_->AttachCurrentThreadAsDaemon(&env, nullptr)
                          : vm_->AttachCurrentThread(&env, nullptr)) == JNI_OK;
  if (attachedHere_) env_ = static_cast<JNIEnv*>(env);
}

VmThreadScope::~VmThreadScope() {
  if (entered_) {
    vmGate().leave(daemon_, attachedHere_ ? vm_ : nullptr);
  } else if (attachedHere_) {
    vm_->DetachCurrentThread();
  }
}

void awaitApplicationThreads(JNIEnv* env) {
  jclass threadClass = env->FindClass("java/lang/Thread");
  if (threadClass == nullptr) {
    checkException(env, false);
    return;
  }
  jmethodID current =
      env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
  jmethodID count = current ? env->GetStaticMethodID(threadClass, "activeCount", "()I") : nullptr;
  jmethodID list =
      count ? env->GetStaticMethodID(threadClass, "enumerate", "([Ljava/lang/Thread;)I") : nullptr;
  jmethodID alive = list ? env->GetMethodID(threadClass, "isAlive", "()Z") : nullptr;
  jmethodID daemon = alive ? env->GetMethodID(threadClass, "isDaemon", "()Z") : nullptr;
  jmethodID join = daemon ? env->GetMethodID(threadClass, "join", "()V") : nullptr;
  bool waited = join != nullptr;
  while (waited && env->PushLocalFrame(16) == 0) {
    waited = false;
    jobject self = env->CallStaticObjectMethod(threadClass, current);
    const jint room = env->ExceptionCheck() ? -1 : env->CallStaticIntMethod(threadClass, count);
    jobjectArray threads = room < 0 || env->ExceptionCheck()
                               ? nullptr
                               : env->NewObjectArray(room + 8, threadClass, nullptr);
    const jint found =
        threads != nullptr ? env->CallStaticIntMethod(threadClass, list, threads) : 0;
    for (jint i = 0; i < found && !env->ExceptionCheck(); ++i) {
      jobject thread = env->GetObjectArrayElement(threads, i);
      if (thread != nullptr && !env->IsSameObject(thread, self) &&
          env->CallBooleanMethod(thread, alive) && !env->ExceptionCheck() &&
          !env->CallBooleanMethod(thread, daemon) && !env->ExceptionCheck()) {
        env->CallVoidMethod(thread, join);
        waited = true;
      }
      if (thread != nullptr) env->DeleteLocalRef(thread);
    }
    if (checkException(env, false)) waited = false;
    env->PopLocalFrame(nullptr);
  }
  checkException(env, false);
  env->DeleteLocalRef(threadClass);
}

void callSystemExit(JNIEnv* env, int status) {
  jclass system = env->FindClass("java/lang/System");
  if (system != nullptr) {
    jmethodID exitMethod = env->GetStaticMethodID(system, "exit", "(I)V");
    if (exitMethod != nullptr) env->CallStaticVoidMethod(system, exitMethod, static_cast<jint>(status));
  }
  checkException(env, false);
  if (system != nullptr) env->DeleteLocalRef(system);
}

void setContextClassLoader(JNIEnv* env, jobject loader) {
  if (env == nullptr) {
    VmHost* host = processState().vmHost;
    env = host != nullptr ? host->env() : nullptr;
    if (env == nullptr) return;
  }
  jclass threadClass = env->FindClass("java/lang/Thread");
  if (threadClass == nullptr) {
    checkException(env, false);
    return;
  }
  jmethodID currentThread =
      env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;");
  jmethodID setLoader = currentThread != nullptr
                            ? env->GetMethodID(threadClass, "setContextClassLoader",
                                               "(Ljava/lang/ClassLoader;)V")
                            : nullptr;
  jobject thread = (currentThread != nullptr && setLoader != nullptr)
                       ? env->CallStaticObjectMethod(threadClass, currentThread)
                       : nullptr;
  // No JNI call may follow a Java call before its exception is looked at.
  if (jthrowable failure = env->ExceptionOccurred()) {
    env->DeleteLocalRef(failure);
    if (thread != nullptr) env->DeleteLocalRef(thread);
    thread = nullptr;  // the exception is described and cleared below
  }
  if (thread != nullptr) {
    env->CallVoidMethod(thread, setLoader, loader);
    checkException(env, true);
    env->DeleteLocalRef(thread);
  } else {
    checkException(env, true);
  }
  env->DeleteLocalRef(threadClass);
}

}  // namespace qlx
