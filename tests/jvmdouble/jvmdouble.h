// A stand-in Java VM library for the Windows end-to-end tests. It
// implements the JNI Invocation API and the part of the JNI function table
// that the launcher uses, keeps a tiny object model (classes, strings,
// arrays, throwables, plain objects with fields), logs every call it gets
// to the file named by QLX_JVM_LOG, and plays a script in place of the
// application's main(). Every other JNI function ends the process loudly.
#pragma once

#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <map>
#include <string>
#include <vector>

namespace jvmdouble {

// ---- log and environment (log.cpp)
void logLine(const char* format, ...);
std::string envValue(const char* name, const char* fallback = "");
bool envSet(const char* name);
// Writes raw bytes to the process's current standard output or error
// handle, as the VM's own streams would (they follow SetStdHandle).
void writeStd(DWORD which, const std::string& text);
// Ends the process as the VM does on a fatal condition of the double.
[[noreturn]] void fail(int code, const char* format, ...);

// ---- object model (objects.cpp)
enum class Kind { Class, String, ObjectArray, ByteArray, Throwable, Plain };

struct Object {
  Kind kind = Kind::Plain;
  std::string className;  // slash form; for a Class: the class it names
  std::u16string text;    // String value, Throwable message
  bool hasText = false;
  std::vector<jobject> items;  // ObjectArray elements (global refs)
  std::string bytes;           // ByteArray contents
  std::map<std::string, jlong> fields;
};

struct Method {
  std::string className, name, signature;
  bool isStatic = false;
};

struct Field {
  std::string className, name, signature;
  bool isStatic = false;
};

// Held while the double's shared tables (objects' fields and elements,
// properties, string buffers) are read or changed: natives may run on
// several threads at once. Recursive.
struct HeapLock {
  HeapLock();
  ~HeapLock();
  HeapLock(const HeapLock&) = delete;
  HeapLock& operator=(const HeapLock&) = delete;
};

Object* newObject(Kind kind, const std::string& className);
// The one Class object of a class name.
Object* classObject(const std::string& name);
jobject newLocalRef(Object* object);
jobject newGlobalRef(Object* object);
// The object behind a reference; null for null. A stale or foreign
// reference ends the process: the launcher must never use one.
Object* deref(jobject ref, const char* where);
void deleteRef(jobject ref, const char* where);
bool isGlobalRef(jobject ref);

jstring newString(const std::u16string& text);
std::u16string utf8ToUtf16(const std::string& utf8);  // standard or modified UTF-8
std::string utf16ToUtf8(const std::u16string& text);  // standard UTF-8
std::string utf16ToModifiedUtf8(const std::u16string& text);
std::string utf16ToAnsi(const std::u16string& text);
std::string dotted(const std::string& className);

jmethodID newMethodId(const Method& method);
const Method* method(jmethodID id, const char* where);
jfieldID newFieldId(const Field& field);
const Field* field(jfieldID id, const char* where);

// ---- threads and exceptions (threads.cpp)
struct ThreadEnv {
  const JNINativeInterface_* functions;  // must stay first: this is the JNIEnv
  jthrowable pending = nullptr;
  std::string name;
  bool daemon = false;
};
ThreadEnv* currentThread();  // null when not attached
ThreadEnv* attachThread(const std::string& name, bool daemon);
void detachThread();
ThreadEnv* threadOf(JNIEnv* env);
void throwNew(JNIEnv* env, const char* className, const std::string& message);
void describe(JNIEnv* env);
JavaVM* theVm();
const JNINativeInterface_* functionTable();  // jni_functions.cpp
// Refuses a JNI call made while an exception is pending (JNI forbids all
// but the exception and release functions then).
void enter(JNIEnv* env, const char* name);
// The object behind a non-null reference of the given kind.
Object* need(jobject ref, Kind kind, const char* where);
void installCalls(JNINativeInterface_& table);  // jni_calls.cpp: methods, fields
void installData(JNINativeInterface_& table);   // jni_data.cpp: strings, arrays

// ---- system properties and the fake Java library (library.cpp)
void setInitialProperties(const std::vector<std::string>& options);
// The "exit" option's hook (null when none was given); System.exit calls it
// with the code before it ends the process, as HotSpot does.
using ExitHook = void(JNICALL*)(jint);
void setExitHook(ExitHook hook);
ExitHook exitHook();
// -XX:ArchiveClassesAtExit=PATH: the double writes a small file with a
// dynamic archive's head there when the VM ends (System.exit before the
// exit hook, DestroyJavaVM), as HotSpot writes its archive;
// -XX:DumpLoadedClassList=PATH: a two-line class list, at the same time.
void setArchiveAtExit(const std::string& path);
void setClassListAtExit(const std::string& path);
void writeArchiveAtExit();
// The "abort" option's hook (null when none was given); a creation that
// ends the process (QLX_JVM_CREATE=abort) calls it, as HotSpot does.
using AbortHook = void(JNICALL*)();
void setAbortHook(AbortHook hook);
AbortHook abortHook();
bool systemClassMissing();
bool mainClassMissing(const std::string& className);
bool mainMethodMissing();
// Runs a call of a static or instance method; args are already decoded.
jvalue invokeMethod(JNIEnv* env, jobject target, const Method& m, const jvalue* args);

// ---- the script of the fake main (script.cpp)
void runMain(JNIEnv* env, const std::string& className, jobjectArray args);

}  // namespace jvmdouble
