// The natives of com.tarnwick.qlx.ServiceStatusManager: thin entries into
// the process's service bridge.
#include <jni.h>

#include "service/service_bridge.h"

extern "C" {

JNIEXPORT void JNICALL
Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatus(JNIEnv*, jclass, jint status) {
  qlx::serviceBridge().statusFromJava(status);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_ServiceStatusManager_nativeSetServiceStatusHandler(
    JNIEnv* env, jclass, jobject handler) {
  qlx::serviceBridge().installHandler(env, handler);
}

JNIEXPORT jobjectArray JNICALL
Java_com_tarnwick_qlx_ServiceStatusManager_getCommandLineArguments(JNIEnv* env, jclass) {
  return qlx::serviceBridge().commandLineArguments(env);
}

JNIEXPORT jobjectArray JNICALL
Java_com_tarnwick_qlx_ServiceStatusManager_getStartupParameters(JNIEnv* env, jclass) {
  return qlx::serviceBridge().startupParameters(env);
}

}  // extern "C"
