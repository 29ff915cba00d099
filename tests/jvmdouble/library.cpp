// The few Java library methods the double knows (System.getProperty,
// setProperty, exit, and main() of the application class), its system
// properties, and the behaviour switches tests set in the environment.
#include <cstdlib>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

std::map<std::string, std::u16string>& properties() {
  static auto* p = new std::map<std::string, std::u16string>;
  return *p;
}

std::u16string stringArg(const jvalue& v, const char* where) {
  Object* o = deref(v.l, where);
  if (o == nullptr) return std::u16string();
  return o->text;
}

bool isNullString(const jvalue& v) { return v.l == nullptr; }

}  // namespace

void setInitialProperties(const std::vector<std::string>& options) {
  // Options are in the ANSI code page, as the launcher hands them over.
  for (const std::string& option : options) {
    if (option.compare(0, 2, "-D") != 0) continue;
    size_t eq = option.find('=');
    std::string name = option.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
    int n = MultiByteToWideChar(CP_ACP, 0, value.data(), (int)value.size(), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, value.data(), (int)value.size(), &wide[0], n);
    properties()[name] = std::u16string(wide.begin(), wide.end());
  }
}

bool systemClassMissing() { return envValue("QLX_JVM_VERSION") == "<nosystem>"; }

bool mainClassMissing(const std::string& className) {
  return envValue("QLX_JVM_MAIN") == "missing-class" && className.compare(0, 5, "java/") != 0;
}

bool mainMethodMissing() { return envValue("QLX_JVM_MAIN") == "missing-method"; }

jvalue invokeMethod(JNIEnv* env, jobject target, const Method& m, const jvalue* args) {
  jvalue result;
  result.j = 0;
  const std::string key = m.className + "." + m.name + m.signature;
  if (key == "java/lang/System.getProperty(Ljava/lang/String;)Ljava/lang/String;") {
    std::string name = utf16ToUtf8(stringArg(args[0], "getProperty"));
    logLine("getProperty %s", name.c_str());
    if (isNullString(args[0])) {
      throwNew(env, "java/lang/NullPointerException", "key can't be null");
      return result;
    }
    if (name == "java.version") {
      std::string version = envValue("QLX_JVM_VERSION", "1.8.0_402");
      if (version == "<null>") return result;
      result.l = newString(utf8ToUtf16(version));
      return result;
    }
    HeapLock lock;
    auto it = properties().find(name);
    if (it != properties().end()) result.l = newString(it->second);
    return result;
  }
  if (key ==
      "java/lang/System.setProperty(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;") {
    if (isNullString(args[0]) || isNullString(args[1])) {
      throwNew(env, "java/lang/NullPointerException", "");
      return result;
    }
    std::u16string name16 = stringArg(args[0], "setProperty");
    std::u16string value = stringArg(args[1], "setProperty");
    std::string name = utf16ToUtf8(name16);
    logLine("setProperty %s=%s", name.c_str(), utf16ToUtf8(value).c_str());
    if (name.empty()) {
      throwNew(env, "java/lang/IllegalArgumentException", "key can't be empty");
      return result;
    }
    HeapLock lock;
    auto it = properties().find(name);
    if (it != properties().end()) result.l = newString(it->second);
    properties()[name] = value;
    return result;
  }
  if (key == "java/lang/System.exit(I)V") {
    logLine("exit %ld", (long)args[0].i);
    writeStd(STD_OUTPUT_HANDLE, "");
    writeArchiveAtExit();
    if (ExitHook hook = exitHook()) {
      logLine("exit hook %ld", (long)args[0].i);
      hook(args[0].i);
    }
    // The VM's own exit goes on after the hook; a test may make that take long.
    Sleep((DWORD)strtoul(envValue("QLX_JVM_EXIT_DELAY").c_str(), nullptr, 10));
    ExitProcess((UINT)args[0].i);
  }
  if (m.isStatic && m.name == "main" && m.signature == "([Ljava/lang/String;)V") {
    runMain(env, m.className, static_cast<jobjectArray>(args[0].l));
    return result;
  }
  // Anything else is a method of the application or its support classes
  // that the double does not model: it is logged and returns zero, or the
  // integer a test put into QLX_JVM_RETURN_<method name> (boolean, int and
  // long results; for example canPause of a service status handler).
  logLine("call %s%s", m.isStatic ? "static " : "", key.c_str());
  (void)target;
  std::string answer = envValue(("QLX_JVM_RETURN_" + m.name).c_str());
  if (!answer.empty()) {
    char kind = m.signature[m.signature.find(')') + 1];
    long long value = strtoll(answer.c_str(), nullptr, 0);
    if (kind == 'Z') result.z = value != 0 ? JNI_TRUE : JNI_FALSE;
    if (kind == 'I') result.i = (jint)value;
    if (kind == 'J') result.j = value;
  }
  return result;
}

namespace {
ExitHook gExitHook = nullptr;  // set once, at creation
}  // namespace

void setExitHook(ExitHook hook) { gExitHook = hook; }
ExitHook exitHook() { return gExitHook; }

namespace {
std::string gArchiveAtExit;
std::string gClassListAtExit;
AbortHook gAbortHook = nullptr;

void writeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
  }
}
}  // namespace

void setArchiveAtExit(const std::string& path) { gArchiveAtExit = path; }
void setClassListAtExit(const std::string& path) { gClassListAtExit = path; }
void setAbortHook(AbortHook hook) { gAbortHook = hook; }
AbortHook abortHook() { return gAbortHook; }

void writeArchiveAtExit() {
  if (!gClassListAtExit.empty()) {
    writeFile(gClassListAtExit, "java/lang/Object id: 0\napp/Main id: 1\n");
    logLine("class list written %s", gClassListAtExit.c_str());
    gClassListAtExit.clear();
  }
  if (gArchiveAtExit.empty()) return;
  // Magic 0xf00baba8 and format 11, little-endian, on one page.
  std::string bytes(4096, '\0');
  const unsigned char head[] = {0xa8, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 11, 0, 0, 0};
  bytes.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
  writeFile(gArchiveAtExit, bytes);
  logLine("archive written %s", gArchiveAtExit.c_str());
  gArchiveAtExit.clear();
}

}  // namespace jvmdouble
