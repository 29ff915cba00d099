// The Invocation API of the double: the exported creation entries, the
// JavaVM interface, attached threads with their pending exceptions.
#include <cstdio>

#include "jvmdouble.h"

#ifdef JVMDOUBLE_WITH_DEPENDENCY
extern "C" __declspec(dllimport) int jvmdep_answer();
#endif

namespace jvmdouble {
namespace {

thread_local ThreadEnv* tlsThread = nullptr;
bool created = false;
bool destroyed = false;
int unnamedThreads = 0;

jint JNICALL destroyJavaVm(JavaVM*) {
  logLine("destroy");
  writeArchiveAtExit();
  destroyed = true;
  return JNI_OK;
}

jint attach(void** penv, void* args, bool daemon) {
  if (destroyed) return JNI_ERR;
  ThreadEnv* t = currentThread();
  if (t == nullptr) {
    std::string name;
    auto* a = static_cast<JavaVMAttachArgs*>(args);
    if (a != nullptr && a->name != nullptr) name = a->name;
    if (name.empty()) name = "Thread-" + std::to_string(unnamedThreads++);
    t = attachThread(name, daemon);
    logLine(daemon ? "attachDaemon %s" : "attach %s", name.c_str());
  }
  *penv = t;
  return JNI_OK;
}

jint JNICALL attachCurrentThread(JavaVM*, void** penv, void* args) {
  return attach(penv, args, false);
}

jint JNICALL attachCurrentThreadAsDaemon(JavaVM*, void** penv, void* args) {
  return attach(penv, args, true);
}

jint JNICALL detachCurrentThread(JavaVM*) {
  ThreadEnv* t = currentThread();
  logLine("detach %s", t != nullptr ? t->name.c_str() : "(not attached)");
  detachThread();
  return JNI_OK;
}

jint JNICALL getEnv(JavaVM*, void** penv, jint version) {
  ThreadEnv* t = currentThread();
  *penv = t;
  if (t == nullptr) return JNI_EDETACHED;
  if (version != JNI_VERSION_1_1 && version != JNI_VERSION_1_2 && version != JNI_VERSION_1_4 &&
      version != JNI_VERSION_1_6 && version != JNI_VERSION_1_8) {
    *penv = nullptr;
    return JNI_EVERSION;
  }
  return JNI_OK;
}

const JNIInvokeInterface_ invokeTable = {nullptr,
                                         nullptr,
                                         nullptr,
                                         destroyJavaVm,
                                         attachCurrentThread,
                                         detachCurrentThread,
                                         getEnv,
                                         attachCurrentThreadAsDaemon};
JavaVM vm = {&invokeTable};

bool creationRefused() {
#ifdef JVMDOUBLE_FAIL_CREATE
  return true;
#else
  return envValue("QLX_JVM_CREATE") == "fail";
#endif
}

jint createJavaVm(JavaVM** pvm, void** penv, void* vmArgs) {
  auto* args = static_cast<JavaVMInitArgs*>(vmArgs);
  if (args == nullptr) return JNI_EINVAL;
  // Which copy of the double the launcher found and loaded.
  HMODULE self = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&createJavaVm), &self);
  char modulePath[MAX_PATH] = "";
  GetModuleFileNameA(self, modulePath, sizeof(modulePath));
  logLine("library %s", modulePath);
  logLine("create version=0x%lx ignoreUnrecognized=%d", (long)args->version,
          (int)args->ignoreUnrecognized);
  std::vector<std::string> options;
  for (jint i = 0; i < args->nOptions; ++i) {
    const char* text = args->options[i].optionString;
    if (text == nullptr) fail(98, "option %ld has a null optionString", (long)i);
    if (args->options[i].extraInfo != nullptr) logLine("extraInfo %ld", (long)i);
    logLine("option %s", text);
    if (std::string(text) == "exit" && args->options[i].extraInfo != nullptr) {
      setExitHook(reinterpret_cast<ExitHook>(args->options[i].extraInfo));
    }
    if (std::string(text) == "abort" && args->options[i].extraInfo != nullptr) {
      setAbortHook(reinterpret_cast<AbortHook>(args->options[i].extraInfo));
    }
    static const char kArchiveAtExit[] = "-XX:ArchiveClassesAtExit=";
    if (std::string(text).compare(0, sizeof kArchiveAtExit - 1, kArchiveAtExit) == 0) {
      setArchiveAtExit(text + sizeof kArchiveAtExit - 1);
    }
    static const char kClassList[] = "-XX:DumpLoadedClassList=";
    if (std::string(text).compare(0, sizeof kClassList - 1, kClassList) == 0) {
      setClassListAtExit(text + sizeof kClassList - 1);
    }
    options.push_back(text);
  }
  if (envSet("JAVA_TOOL_OPTIONS")) {
    logLine("env JAVA_TOOL_OPTIONS=%s", envValue("JAVA_TOOL_OPTIONS").c_str());
  } else {
    logLine("env JAVA_TOOL_OPTIONS unset");
  }
  // More variables a test wants to see as the VM saw them.
  std::string names = envValue("QLX_JVM_LOG_ENV");
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    if (!name.empty()) {
      if (envSet(name.c_str())) {
        logLine("env %s=%s", name.c_str(), envValue(name.c_str()).c_str());
      } else {
        logLine("env %s unset", name.c_str());
      }
    }
    start = end + 1;
  }
  if (envSet("QLX_JVM_LOG_DLLDIR")) {
    char directory[MAX_PATH * 2] = "";
    const DWORD length = GetDllDirectoryA(sizeof(directory), directory);
    logLine("dlldir %s", length != 0 && length < sizeof(directory) ? directory : "");
  }
#ifdef JVMDOUBLE_WITH_DEPENDENCY
  logLine("dependency %d", jvmdep_answer());
#endif
  if (created) {
    logLine("create refused: exists");
    return JNI_EEXIST;
  }
  if (args->version != JNI_VERSION_1_2 && args->version != JNI_VERSION_1_4 &&
      args->version != JNI_VERSION_1_6 && args->version != JNI_VERSION_1_8) {
    logLine("create refused: version");
    return JNI_EVERSION;
  }
  if (envValue("QLX_JVM_CREATE") == "abort") {
    // As HotSpot ends a creation it cannot complete: the abort hook, a
    // line on standard output, exit code 1.
    writeStd(STD_OUTPUT_HANDLE, "Error occurred during initialization of VM\n");
    if (AbortHook hook = abortHook()) {
      logLine("abort hook");
      hook();
    }
    logLine("create aborted");
    ExitProcess(1);
  }
  if (creationRefused()) {
    writeStd(STD_ERROR_HANDLE, "Error: jvmdouble refuses to create the virtual machine.\n");
    logLine("create failed");
    return JNI_ERR;
  }
  setInitialProperties(options);
  created = true;
  *pvm = &vm;
  *penv = attachThread("main", false);
  logLine("created");
  return JNI_OK;
}

}  // namespace

JavaVM* theVm() { return &vm; }

ThreadEnv* currentThread() { return tlsThread; }

ThreadEnv* attachThread(const std::string& name, bool daemon) {
  ThreadEnv* t = new ThreadEnv;
  t->functions = functionTable();
  t->name = name;
  t->daemon = daemon;
  tlsThread = t;
  return t;
}

void detachThread() { tlsThread = nullptr; }

ThreadEnv* threadOf(JNIEnv* env) {
  ThreadEnv* t = reinterpret_cast<ThreadEnv*>(env);
  if (t == nullptr) fail(98, "JNI call with a null JNIEnv");
  if (t != tlsThread) fail(98, "JNIEnv used on a thread it does not belong to");
  return t;
}

void throwNew(JNIEnv* env, const char* className, const std::string& message) {
  Object* e = newObject(Kind::Throwable, className);
  e->text = utf8ToUtf16(message);
  e->hasText = !message.empty();
  threadOf(env)->pending = static_cast<jthrowable>(newGlobalRef(e));
}

void describe(JNIEnv* env) {
  ThreadEnv* t = threadOf(env);
  if (t->pending == nullptr) return;
  Object* e = deref(t->pending, "ExceptionDescribe");
  std::string text = "Exception in thread \"" + t->name + "\" " + dotted(e->className);
  if (e->hasText) text += ": " + utf16ToAnsi(e->text);
  text += "\n";
  logLine("describe %s", e->className.c_str());
  writeStd(STD_ERROR_HANDLE, text);
  // A real VM clears the exception while describing it.
  t->pending = nullptr;
}

}  // namespace jvmdouble

extern "C" {

#ifndef JVMDOUBLE_IMPL_ONLY
__declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
  jvmdouble::logLine("entry JNI_CreateJavaVM");
  return jvmdouble::createJavaVm(pvm, penv, args);
}
#endif

__declspec(dllexport) jint JNICALL JNI_CreateJavaVM_Impl(JavaVM** pvm, void** penv, void* args) {
  jvmdouble::logLine("entry JNI_CreateJavaVM_Impl");
  return jvmdouble::createJavaVm(pvm, penv, args);
}

__declspec(dllexport) jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
  bool live = jvmdouble::created && !jvmdouble::destroyed;
  if (count != nullptr) *count = live ? 1 : 0;
  if (live && size > 0 && vms != nullptr) vms[0] = jvmdouble::theVm();
  return JNI_OK;
}

}  // extern "C"
