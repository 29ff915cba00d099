// Shared helpers of the JNI tests: the one VM of a test process, created
// through VmHost with -Xcheck:jni, and small readers of Java state.
#pragma once

#include <jni.h>

#include <string>

#include "vm/vm_host.h"

namespace qlx::jnitest {

// The VM of this process, created on first use (class path: the test classes).
VmHost& sharedVm();
JNIEnv* sharedEnv();
// Ends the shared VM if one was created (DestroyJavaVM, then unload).
void shutdownSharedVm();

// A static String method or field of a test class, read as UTF-8 ("<null>"
// for null, "<error>" when the lookup failed).
std::string callStaticString(JNIEnv* env, const char* cls, const char* method);
std::string staticStringField(JNIEnv* env, const char* cls, const char* field);
bool staticBooleanField(JNIEnv* env, const char* cls, const char* field);
std::string systemProperty(JNIEnv* env, const char* name);

// UTF-8 of a Java string, made by the VM (independent of the glue).
std::string utf8Of(JNIEnv* env, jstring text);

// True when no exception is pending (and clears one that is, so that one
// failed check does not spoil the next).
bool noPendingException(JNIEnv* env);

}  // namespace qlx::jnitest
