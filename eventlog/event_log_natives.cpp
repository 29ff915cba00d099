// The natives of com.tarnwick.qlx.EventLog. They never throw into Java: a
// missing field or a failed registration makes them do nothing.
#include <jni.h>


#include "eventlog/event_log.h"
#include "launcher/threading.h"
#include "vm/jni_glue.h"

namespace {

qlx::Lock gFinalizeMutex;

std::u16string unitsOf(JNIEnv* env, jstring text) {
  std::u16string units;
  if (text == nullptr) return units;
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) {
    qlx::checkException(env, false);
    return units;
  }
  units.assign(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
  env->ReleaseStringChars(text, chars);
  return units;
}

// A null element is reported as an empty string, so the positions of the
// strings after it stay as the application numbered them.
std::vector<std::u16string> insertionStrings(JNIEnv* env, jobjectArray strings) {
  std::vector<std::u16string> out;
  if (strings == nullptr) return out;
  const jsize count = env->GetArrayLength(strings);
  out.reserve(static_cast<size_t>(count));
  for (jsize i = 0; i < count; ++i) {
    jstring element = static_cast<jstring>(env->GetObjectArrayElement(strings, i));
    out.push_back(unitsOf(env, element));
    if (element != nullptr) env->DeleteLocalRef(element);
  }
  return out;
}

std::vector<uint8_t> rawData(JNIEnv* env, jbyteArray data) {
  std::vector<uint8_t> out;
  if (data == nullptr) return out;
  const jsize length = env->GetArrayLength(data);
  jbyte* bytes = env->GetByteArrayElements(data, nullptr);
  if (bytes == nullptr) {
    qlx::checkException(env, false);
    return out;
  }
  out.assign(reinterpret_cast<const uint8_t*>(bytes),
             reinterpret_cast<const uint8_t*>(bytes) + length);
  env->ReleaseByteArrayElements(data, bytes,
                                JNI_ABORT);  // the Java array is never written
  return out;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_EventLog_init(JNIEnv* env, jobject self,
                                                           jstring server, jstring source) {
  if (!qlx::hasHandleField(env, self, "h")) return;
  const std::u16string serverName = unitsOf(env, server);
  const std::u16string sourceName = unitsOf(env, source);
  const intptr_t handle = qlx::registerEventSource(server != nullptr ? &serverName : nullptr,
                                                   source != nullptr ? &sourceName : nullptr);
  qlx::setHandleField(env, self, "h", handle);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_EventLog_reportEvent(JNIEnv* env, jobject self,
                                                                  jint type, jint category,
                                                                  jint eventId,
                                                                  jobjectArray strings,
                                                                  jbyteArray data) {
  const intptr_t handle = qlx::getHandleField(env, self, "h");
  if (handle == 0) return;
  qlx::reportEvent(handle, static_cast<uint16_t>(type), static_cast<uint16_t>(category),
                   static_cast<uint32_t>(eventId), insertionStrings(env, strings),
                   rawData(env, data));
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_EventLog_finalize(JNIEnv* env, jobject self) {
  // Taken out of the field under a lock, so that of an explicit call and
  // the collector's, or of two racing ones, exactly one deregisters.
  intptr_t handle;
  {
    qlx::LockGuard lock(gFinalizeMutex);
    handle = qlx::getHandleField(env, self, "h");
    if (handle != 0) qlx::setHandleField(env, self, "h", 0);
  }
  if (handle != 0) qlx::deregisterEventSource(handle);
}

}  // extern "C"
