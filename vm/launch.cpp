// The launch sequence: environment, VM options, class path, discovery,
// creation, system properties, version limits, the caller's hook and the
// call of main(String[]). Every failure is one message id, printed here once.
#include "vm/launch.h"

#include <vector>

#include "launcher/arguments.h"
#include "launcher/config.h"
#include "launcher/expand.h"
#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "vm/class_data.h"
#include "vm/classpath.h"
#include "vm/discovery.h"
#include "vm/jni_glue.h"
#include "vm/runtime_options.h"
#include "vm/support_natives.h"
#include "vm/version.h"

namespace qlx {

namespace {

constexpr const char* kToolOptions = "JAVA_TOOL_OPTIONS";  // one literal with its other uses

void applyExports(LauncherContext& context, Os& os) {
  StringList lines;
  lookupExpandedValues(context, os, "export", lines, true);
  bool toolOptionsSet = false;
  for (const std::string& line : lines) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    os.setEnv(line);
    if (equalsAsciiIgnoreCase(line.substr(0, eq), kToolOptions)) toolOptionsSet = true;
  }
  // An inherited value would silently change every VM this launcher starts.
  if (!toolOptionsSet) os.setEnv(std::string(kToolOptions) + "=");
}

void collectOptions(LauncherContext& context, VmHost& host, Os& os) {
  // `option` is one VM option per line; `options` is a list split like a
  // command line (say, from an environment variable). Both count in the
  // order of their lines.
  StringList options;
  lookupValuesOfKeys(
      context, {"option", "options"},
      [&](size_t key, const std::string& value) {
        if (key == 0) {
          expandLine(context, os, options, value);
        } else {
          splitArguments(expandValue(context, os, value, false), options);
        }
      },
      false, true);
  for (const std::string& option : options) host.addOption(option);

  const std::string classPath = buildClassPath(context, os);
  host.addOption("-Djava.class.path=" + classPath);
  host.addOption("-Dqlx.class.path=" + classPath);
  host.addOption("-Dqlx.app.path=" + context.applicationPath);
  host.addOption("-Dapplication.home=" + context.applicationHome);
  if (isElevated()) host.addOption("-Dqlx.is.elevated=true");
}

void setSystemProperty(JNIEnv* env, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  const std::string name = assignment.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : assignment.substr(eq + 1);
  jclass system = env->FindClass("java/lang/System");
  jmethodID setProperty =
      system != nullptr
          ? env->GetStaticMethodID(system, "setProperty",
                                   "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
          : nullptr;
  if (setProperty == nullptr) {
    checkException(env, false);
    if (system != nullptr) env->DeleteLocalRef(system);
    return;
  }
  jstring jname = env->NewStringUTF(toModifiedUtf8(name).c_str());
  jstring jvalue = jname != nullptr ? env->NewStringUTF(toModifiedUtf8(value).c_str()) : nullptr;
  if (jvalue != nullptr) {
    jobject previous = env->CallStaticObjectMethod(system, setProperty, jname, jvalue);
    if (previous != nullptr) env->DeleteLocalRef(previous);
  }
  // An empty name throws IllegalArgumentException: that property is skipped.
  checkException(env, false);
  if (jvalue != nullptr) env->DeleteLocalRef(jvalue);
  if (jname != nullptr) env->DeleteLocalRef(jname);
  env->DeleteLocalRef(system);
}

bool getJavaVersion(JNIEnv* env, std::string& version) {
  jclass system = env->FindClass("java/lang/System");
  jmethodID getProperty =
      system != nullptr ? env->GetStaticMethodID(system, "getProperty",
                                                 "(Ljava/lang/String;)Ljava/lang/String;")
                        : nullptr;
  if (getProperty == nullptr) {
    checkException(env, false);
    if (system != nullptr) env->DeleteLocalRef(system);
    return false;
  }
  jstring name = env->NewStringUTF("java.version");
  jobject value = name != nullptr ? env->CallStaticObjectMethod(system, getProperty, name) : nullptr;
  // A throwing getProperty leaves no value to read; nothing may run while
  // its exception is pending.
  if (checkException(env, false) && value != nullptr) {
    env->DeleteLocalRef(value);
    value = nullptr;
  }
  version = value != nullptr ? toNativeString(env, static_cast<jstring>(value)) : std::string();
  checkException(env, false);
  if (value != nullptr) env->DeleteLocalRef(value);
  if (name != nullptr) env->DeleteLocalRef(name);
  env->DeleteLocalRef(system);
  return true;
}

std::vector<const char*> pointersOf(const StringList& list) {
  std::vector<const char*> pointers;
  pointers.reserve(list.size());
  for (const std::string& text : list) pointers.push_back(text.c_str());
  return pointers;
}

// callMain's result for an uncaught exception; not a message id, nothing
// more is printed for it.
constexpr int kMainThrew = -1;

int callMain(JNIEnv* env, const std::string& className, const StringList& argvLines,
             const StringList& firstArgs, const StringList& secondArgs) {
  // FindClass("") is not a class lookup the VM defines; there is nothing to find.
  if (className.empty()) return kMsgMainClassNotFound;
  // The configured name is UTF-8; the VM takes class names in modified
  // UTF-8, never in the ANSI code page.
  jclass mainClass = findClassDotted(env, toModifiedUtf8(className));
  if (mainClass == nullptr) return kMsgMainClassNotFound;
  jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
  if (mainMethod == nullptr) {
    checkException(env, true);
    env->DeleteLocalRef(mainClass);
    return kMsgMainMethodMissing;
  }

  StringList configured;
  for (const std::string& line : argvLines) splitArguments(line, configured);
  const std::vector<const char*> list1 = pointersOf(configured);
  const std::vector<const char*> list2 = pointersOf(firstArgs);
  const std::vector<const char*> list3 = pointersOf(secondArgs);
  jobjectArray arguments = buildStringArray(
      env, static_cast<int>(list1.size()), list1.data(), static_cast<int>(list2.size()),
      list2.data(), static_cast<int>(list3.size()), list3.data());
  if (arguments == nullptr) {
    // The VM could not even allocate the array: main cannot be called.
    env->DeleteLocalRef(mainClass);
    return kMsgVmStartFailed;
  }

  env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
  // A crash is not a success: described here, and the run ends with java's
  // code for it once the VM is destroyed.
  const bool threw = checkException(env, true);
  env->DeleteLocalRef(arguments);
  env->DeleteLocalRef(mainClass);
  return threw ? kMainThrew : 0;
}

// Steps after the options are collected; returns 0 or a message id.
int runVm(LauncherContext& context, VmHost& host, Os& os, const StringList& firstArgs,
          void (*startHook)(), const StringList& secondArgs,
          std::string& version, std::string& minimum, std::string& maximum) {
  const std::string library = findVmLibrary(context, os);
  if (library.empty()) return kMsgJreNotFound;
  prepareClassData(context, host, os, library);
  const int created = host.createVm(library, os);
  classDataVmCreated(created);
  if (created != 0) return created;
  JNIEnv* env = host.env();
  if (bindsNativesItself(runtimeVersionOf(os, library)) && bindSupportNatives(env))
    setSystemProperty(env, "qlx.natives.bound=true");

  StringList properties;
  lookupExpandedValues(context, os, "property", properties, false);
  for (const std::string& property : properties) setSystemProperty(env, property);

  minimum = minJreValue(context);
  maximum = maxJreValue(context);
  if (!minimum.empty() || !maximum.empty()) {
    if (!getJavaVersion(env, version)) return kMsgNoVmVersion;
    const std::vector<int> actual = parseVersion(version);
    // A VM that leaves java.version unset (or without a number) cannot be
    // held to a limit: letting it run would pass a check that never happened.
    if (actual.empty() && (!parseVersion(minimum).empty() || !parseVersion(maximum).empty()))
      return kMsgNoVmVersion;
    if (versionTooLow(actual, parseVersion(minimum))) return kMsgVersionTooLow;
    if (versionTooHigh(actual, parseVersion(maximum))) return kMsgVersionTooHigh;
  }

  if (startHook != nullptr) startHook();

  StringList argvLines;
  argvValues(context, argvLines, os);
  return callMain(env, mainClassValue(context), argvLines, firstArgs, secondArgs);
}

void reportFailure(int result, const std::string& version, const std::string& minimum,
                   const std::string& maximum) {
  std::string text = messageText(result);
  // Both texts come from the configuration and the runtime: they are filled
  // in, never used as a format.
  if (result == kMsgVersionTooLow)
    text = fillPlaceholders(text, {version, minimum});
  else if (result == kMsgVersionTooHigh && minimum.empty())
    // Only an upper limit: no range to name. The exit code stays 12.
    text = messageWith(kMsgVersionTooHighMaxOnly, {version, maximum});
  else if (result == kMsgVersionTooHigh)
    text = fillPlaceholders(text, {version, minimum, maximum});
  printMessage(text);
}

}  // namespace

bool javaVersionOf(JNIEnv* env, std::string& version) { return getJavaVersion(env, version); }

int launchApplication(LauncherContext& context, VmHost& host, Os& os, const StringList& firstArgs,
                      void (*startHook)(), const StringList& secondArgs) {
  // The VM takes the executable's path as narrow text (class path,
  // qlx.app.path), and a path with '?' in place of what the code page cannot
  // spell names no file: it would only report a main class it cannot find.
  if (!context.applicationPathFaithful) {
    printMessage("Java cannot be started from this folder: the system's ANSI code page cannot "
                 "represent its name (" + context.applicationPath + ").");
    return kMsgVmStartFailed;
  }
  applyExports(context, os);
  collectOptions(context, host, os);
  std::string version, minimum, maximum;
  const int result =
      runVm(context, host, os, firstArgs, startHook, secondArgs, version, minimum, maximum);
  if (result == kMainThrew) return kUncaughtExceptionExit;
  if (result != 0) reportFailure(result, version, minimum, maximum);
  return result;
}

int launchApplication(const StringList& firstArgs, void (*startHook)(),
                      const StringList& secondArgs) {
  ProcessState& state = processState();
  if (state.context == nullptr || state.vmHost == nullptr) {
    // Start-up publishes both before any run mode starts; without them
    // there is nothing to launch.
    printMessage(messageText(kMsgVmStartFailed));
    return kMsgVmStartFailed;
  }
  return launchApplication(*state.context, *state.vmHost, systemOs(), firstArgs, startHook,
                           secondArgs);
}

}  // namespace qlx
