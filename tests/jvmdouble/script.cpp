// The application's main() as the double plays it: it logs the arguments,
// then performs the actions of QLX_JVM_SCRIPT, separated by ";":
//   print TEXT / eprint TEXT   a line on standard output / error
//   print-args                 each argument on its own line (stdout)
//   print-property NAME        NAME=value (or NAME=<null>) on stdout
//   exit N                     System.exit(N)
//   throw CLASS [MESSAGE]      main ends with that exception pending
//   return                     main returns at once
//   sleep MS                   Thread.sleep
//   log TEXT                   a line in the call log
//   jni-slot N                 calls slot N of the JNI function table with
//                              the env alone (to prove a slot's behaviour)
//   native NAME ARG...         calls the export NAME of the executable with
//                              (env, class-or-object, ARG...), each ARG an
//                              integer, s:TEXT (a String), o:OBJECT (a new
//                              object), or null; at most six; the result is
//                              logged as "native NAME result=N". The receiver
//                              is the class named in NAME, or this:OBJECT.
//                              OBJECT is CLASS[,FIELD=VALUE...]; VALUE is an
//                              integer, $stdout or $stderr (the handle).
#include <cstdlib>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Java_com_example_Foo_bar -> com/example/Foo (no escapes: test names only).
std::string classOfNative(const std::string& name) {
  std::string rest = name.compare(0, 5, "Java_") == 0 ? name.substr(5) : name;
  size_t last = rest.rfind('_');
  if (last != std::string::npos) rest.resize(last);
  for (char& c : rest) {
    if (c == '_') c = '/';
  }
  return rest;
}

intptr_t fieldValue(const std::string& text) {
  if (text == "$stdout") return reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
  if (text == "$stderr") return reinterpret_cast<intptr_t>(GetStdHandle(STD_ERROR_HANDLE));
  return (intptr_t)strtoll(text.c_str(), nullptr, 0);
}

// CLASS[,FIELD=VALUE...] -> a new object with those fields.
jobject objectFromSpec(const std::string& spec) {
  std::vector<std::string> parts = split(spec, ',');
  Object* object = newObject(Kind::Plain, parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    size_t eq = parts[i].find('=');
    if (eq == std::string::npos) fail(96, "script: field without value in \"%s\"", spec.c_str());
    object->fields[parts[i].substr(0, eq)] = fieldValue(parts[i].substr(eq + 1));
  }
  return newLocalRef(object);
}

using NativeFn = intptr_t(JNICALL*)(JNIEnv*, jobject, intptr_t, intptr_t, intptr_t, intptr_t,
                                    intptr_t, intptr_t);

// Returns false when the action leaves an exception pending.
bool callNative(JNIEnv* env, const std::vector<std::string>& words) {
  if (words.size() < 2) fail(96, "script: native needs a name");
  const std::string& name = words[1];
  HMODULE exe = GetModuleHandleA(nullptr);
  auto fn = reinterpret_cast<NativeFn>(reinterpret_cast<void*>(GetProcAddress(exe, name.c_str())));
  if (fn == nullptr) {
    logLine("native %s missing", name.c_str());
    throwNew(env, "java/lang/UnsatisfiedLinkError", name);
    return false;
  }
  intptr_t a[6] = {0, 0, 0, 0, 0, 0};
  jobject self = nullptr;
  size_t argIndex = 0;
  for (size_t i = 2; i < words.size() && argIndex < 6; ++i) {
    const std::string& w = words[i];
    if (w.empty()) continue;
    if (w == "null") {
      a[argIndex++] = 0;
    } else if (w.compare(0, 2, "s:") == 0) {
      a[argIndex++] = reinterpret_cast<intptr_t>(newString(utf8ToUtf16(w.substr(2))));
    } else if (w.compare(0, 2, "o:") == 0) {
      a[argIndex++] = reinterpret_cast<intptr_t>(objectFromSpec(w.substr(2)));
    } else if (w.compare(0, 5, "this:") == 0) {
      self = objectFromSpec(w.substr(5));
    } else {
      a[argIndex++] = (intptr_t)strtoll(w.c_str(), nullptr, 0);
    }
  }
  if (self == nullptr) {
    self = newLocalRef(classObject(classOfNative(name)));
  }
  logLine("native %s call", name.c_str());
  intptr_t result = fn(env, self, a[0], a[1], a[2], a[3], a[4], a[5]);
  logLine("native %s result=%lld", name.c_str(), (long long)result);
  return threadOf(env)->pending == nullptr;
}

std::vector<std::u16string> argumentsOf(jobjectArray args) {
  std::vector<std::u16string> out;
  Object* array = deref(args, "main");
  if (array == nullptr) return out;
  if (array->kind != Kind::ObjectArray) fail(98, "main: argument is not an array");
  for (jobject item : array->items) {
    Object* s = deref(item, "main");
    if (s == nullptr) fail(98, "main: null element in the argument array");
    if (s->kind != Kind::String) fail(98, "main: element is not a String");
    out.push_back(s->text);
  }
  return out;
}

}  // namespace

void runMain(JNIEnv* env, const std::string& className, jobjectArray args) {
  std::vector<std::u16string> arguments = argumentsOf(args);
  logLine("main class=%s argc=%u", className.c_str(), (unsigned)arguments.size());
  for (const std::u16string& a : arguments) logLine("main arg=%s", utf16ToUtf8(a).c_str());

  for (const std::string& raw : split(envValue("QLX_JVM_SCRIPT"), ';')) {
    size_t blank = raw.find(' ');
    std::string verb = raw.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : raw.substr(blank + 1);
    if (verb.empty()) continue;
    if (verb == "print") {
      writeStd(STD_OUTPUT_HANDLE, rest + "\n");
    } else if (verb == "eprint") {
      writeStd(STD_ERROR_HANDLE, rest + "\n");
    } else if (verb == "print-args") {
      for (const std::u16string& a : arguments) writeStd(STD_OUTPUT_HANDLE, utf16ToAnsi(a) + "\n");
    } else if (verb == "print-property") {
      Method get{"java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", true};
      jvalue name;
      name.l = newString(utf8ToUtf16(rest));
      jvalue value = invokeMethod(env, nullptr, get, &name);
      Object* o = deref(value.l, "print-property");
      writeStd(STD_OUTPUT_HANDLE, rest + "=" + (o ? utf16ToAnsi(o->text) : "<null>") + "\n");
    } else if (verb == "exit") {
      Method exitMethod{"java/lang/System", "exit", "(I)V", true};
      jvalue status;
      status.i = (jint)strtol(rest.c_str(), nullptr, 10);
      invokeMethod(env, nullptr, exitMethod, &status);
    } else if (verb == "throw") {
      size_t space = rest.find(' ');
      std::string cls = rest.substr(0, space);
      throwNew(env, cls.c_str(), space == std::string::npos ? "" : rest.substr(space + 1));
      logLine("main threw %s", cls.c_str());
      return;
    } else if (verb == "return") {
      break;
    } else if (verb == "sleep") {
      Sleep((DWORD)strtoul(rest.c_str(), nullptr, 10));
    } else if (verb == "log") {
      logLine("script %s", rest.c_str());
    } else if (verb == "jni-slot") {
      using SlotFn = void(JNICALL*)(JNIEnv*);
      const void* const* slots = reinterpret_cast<const void* const*>(threadOf(env)->functions);
      reinterpret_cast<SlotFn>(const_cast<void*>(slots[strtoul(rest.c_str(), nullptr, 10)]))(env);
    } else if (verb == "native") {
      if (!callNative(env, split(raw, ' '))) return;
    } else {
      fail(96, "script: unknown action \"%s\"", verb.c_str());
    }
  }
  logLine("main returned");
}

}  // namespace jvmdouble
