// The shared VM of the glue tests and readers of Java state.
#include "jvm_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "launcher/os.h"

namespace qlx::jnitest {

namespace {
VmHost& hostObject() {
  static VmHost host;
  return host;
}
}  // namespace

void shutdownSharedVm() { hostObject().shutdownVm(); }

VmHost& sharedVm() {
  VmHost& host = hostObject();
  if (host.javaVm() == nullptr) {
    host.addOption("-Xcheck:jni");
    host.addOption(std::string("-Djava.class.path=") + QLX_JNI_CLASSES);
    if (host.createVm(QLX_JNI_LIBJVM, systemOs()) != 0) {
      std::fprintf(stderr, "cannot create the test VM from %s\n", QLX_JNI_LIBJVM);
      std::abort();
    }
  }
  return host;
}

JNIEnv* sharedEnv() { return sharedVm().env(); }

std::string utf8Of(JNIEnv* env, jstring text) {
  if (text == nullptr) return "<null>";
  const char* chars = env->GetStringUTFChars(text, nullptr);
  std::string out = chars != nullptr ? chars : "<error>";
  if (chars != nullptr) env->ReleaseStringUTFChars(text, chars);
  return out;
}

std::string callStaticString(JNIEnv* env, const char* cls, const char* method) {
  jclass c = env->FindClass(cls);
  if (c == nullptr) {
    env->ExceptionClear();
    return "<error>";
  }
  jmethodID m = env->GetStaticMethodID(c, method, "()Ljava/lang/String;");
  if (m == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(c);
    return "<error>";
  }
  jstring s = static_cast<jstring>(env->CallStaticObjectMethod(c, m));
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
  }
  std::string out = utf8Of(env, s);
  if (s != nullptr) env->DeleteLocalRef(s);
  env->DeleteLocalRef(c);
  return out;
}

std::string staticStringField(JNIEnv* env, const char* cls, const char* field) {
  jclass c = env->FindClass(cls);
  if (c == nullptr) {
    env->ExceptionClear();
    return "<error>";
  }
  jfieldID f = env->GetStaticFieldID(c, field, "Ljava/lang/String;");
  if (f == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(c);
    return "<error>";
  }
  jstring s = static_cast<jstring>(env->GetStaticObjectField(c, f));
  std::string out = utf8Of(env, s);
  if (s != nullptr) env->DeleteLocalRef(s);
  env->DeleteLocalRef(c);
  return out;
}

bool staticBooleanField(JNIEnv* env, const char* cls, const char* field) {
  jclass c = env->FindClass(cls);
  if (c == nullptr) {
    env->ExceptionClear();
    return false;
  }
  jfieldID f = env->GetStaticFieldID(c, field, "Z");
  bool value = false;
  if (f != nullptr)
    value = env->GetStaticBooleanField(c, f) == JNI_TRUE;
  else
    env->ExceptionClear();
  env->DeleteLocalRef(c);
  return value;
}

std::string systemProperty(JNIEnv* env, const char* name) {
  jclass system = env->FindClass("java/lang/System");
  jmethodID get =
      env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  jstring key = env->NewStringUTF(name);
  jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, get, key));
  if (!noPendingException(env)) value = nullptr;
  std::string out = utf8Of(env, value);
  if (value != nullptr) env->DeleteLocalRef(value);
  env->DeleteLocalRef(key);
  env->DeleteLocalRef(system);
  return out;
}

bool noPendingException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return true;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return false;
}

}  // namespace qlx::jnitest
