// The native of com.tarnwick.qlx.RedirOutputStream: writes single bytes to
// the operating-system handle (a file descriptor on Linux) kept in `h`.
#include <jni.h>

#include <atomic>
#include <cstdint>

#include "redirect/redirect.h"

namespace {

// Field IDs stay valid while the class is loaded. Two threads racing on the
// first call only repeat the same lookup.
std::atomic<jfieldID> handleField{nullptr};

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_com_tarnwick_qlx_RedirOutputStream_write(JNIEnv* env,
                                                                               jobject self,
                                                                               jint b) {
  jfieldID field = handleField.load(std::memory_order_acquire);
  if (field == nullptr) {
    jclass cls = env->GetObjectClass(self);
    field = env->GetFieldID(cls, "h", "J");
    env->DeleteLocalRef(cls);
    if (field == nullptr) {
      env->ExceptionClear();  // NoSuchFieldError must not reach the caller
      return;
    }
    handleField.store(field, std::memory_order_release);
  }
  const intptr_t handle = static_cast<intptr_t>(env->GetLongField(self, field));
  if (handle != 0) qlx::writeHandleByte(handle, static_cast<uint8_t>(b & 0xFF));
  env->ExceptionClear();
}
