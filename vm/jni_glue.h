// The small routines every native family uses to talk to Java. They never
// throw into Java and never leave an exception pending.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

#include "launcher/text.h"

namespace qlx {

// True if an exception was pending; it is cleared (described first when asked).
bool checkException(JNIEnv* env, bool describe);

// Native handle fields: a `long` field of the name first, else an `int` one.
bool hasHandleField(JNIEnv* env, jobject object, const char* name);
intptr_t getHandleField(JNIEnv* env, jobject object, const char* name);
bool setHandleField(JNIEnv* env, jobject object, const char* name, intptr_t value);

// Java string <-> narrow text of the process locale. Conversion stops at an
// embedded character 0.
std::string toNativeString(JNIEnv* env, jstring text);
jstring toJavaString(JNIEnv* env, const char* text);

// A String[] of list1, then list2, then list3 (null texts become "").
jobjectArray buildStringArray(JNIEnv* env, int count1, const char* const* list1, int count2,
                              const char* const* list2, int count3, const char* const* list3);

// FindClass after '.' -> '/' (name in modified UTF-8); a failure is described
// and cleared.
jclass findClassDotted(JNIEnv* env, const std::string& name);

void callSystemExit(JNIEnv* env, int status);

// A native thread that talks to Java for a while: attached for the scope,
// unless it was attached already, in which case it stays so (a callback
// handled inside another callback must not lose the outer call's VM).
// It enters through the VM gate first, so it never touches a VM whose
// destruction has begun. A daemon scope does not hold up the VM's end: use
// it for threads that may wait in Java for long (a modal menu loop).
class VmThreadScope {
 public:
  explicit VmThreadScope(JavaVM* vm, bool daemon = false);
  ~VmThreadScope();
  VmThreadScope(const VmThreadScope&) = delete;
  VmThreadScope& operator=(const VmThreadScope&) = delete;

  // Attached now (by this scope or before it).
  bool attached() const { return attachedHere_ || env_ != nullptr; }
  // The gate turned the thread away: the VM is ending or gone.
  bool refused() const { return refused_; }
  // Null when attaching failed or yielded no environment.
  JNIEnv* env() const { return env_; }

 private:
  JavaVM* vm_;
  JNIEnv* env_ = nullptr;
  bool daemon_;
  bool entered_ = false;
  bool refused_ = false;
  bool attachedHere_ = false;
};

// Waits, on a thread attached to the VM, until no other live non-daemon
// thread is left, as DestroyJavaVM would, but while native threads may
// still reach the application. An exception ends the wait.
void awaitApplicationThreads(JNIEnv* env);

// env may be null: the creating thread's environment is used.
void setContextClassLoader(JNIEnv* env, jobject loader);

}  // namespace qlx
