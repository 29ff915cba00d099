// The launch sequence in-process on the real JVM. A VM can be created once
// per process, so every case runs in a child (a death test) that launches,
// checks what Java saw, and exits with the launch result (100 on a mismatch).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "jvm_fixture.h"
#include "launcher/os.h"
#include "launcher/process_state.h"
#include "vm/launch.h"

namespace qlx::jnitest {
namespace {

using Verify = std::function<bool(JNIEnv*)>;

const std::string kClasses = QLX_JNI_CLASSES;
const std::string kHome = kClasses.substr(0, kClasses.rfind('/') + 1);
const std::string kBaseConfig = std::string("jvmdll ") + QLX_JNI_LIBJVM +
                                "\r\njre_order c\r\noption -Xcheck:jni\r\n";

bool expectEq(const char* what, const std::string& actual, const std::string& expected) {
  if (actual == expected) return true;
  std::fprintf(stderr, "MISMATCH %s: got '%s', want '%s'\n", what, actual.c_str(),
               expected.c_str());
  return false;
}

// Case lines come first, so that their one-valued keys win over the base.
[[noreturn]] void runLaunch(const std::string& caseConfig, const StringList& first,
                            const StringList& second, const Verify& verify = nullptr) {
  static LauncherContext context;
  static VmHost host;
  context.configText = caseConfig + kBaseConfig;
  context.applicationPath = kClasses;  // the class path starts with it
  context.applicationHome = kHome;
  context.startDirectory = "/";
  processState().context = &context;
  processState().vmHost = &host;
  processState().sameDestination = false;

  const auto hook = [] {
    JNIEnv* env = processState().vmHost->env();
    jclass main = env->FindClass("qlxtest/Main");
    env->SetStaticBooleanField(main, env->GetStaticFieldID(main, "hookRan", "Z"), JNI_TRUE);
    env->DeleteLocalRef(main);
  };
  int result = launchApplication(context, host, systemOs(), first, hook, second);
  if (result == 0 && verify && !verify(host.env())) result = 100;
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(result);
}

TEST(Launch, ArgumentsPropertiesOptionsAndLauncherProperties) {
  setenv("QLXTEST_ARG", "from-env", 1);
  const std::string config =
      "mainclass qlxtest.Main\r\n"
      "option -Xmx64m\r\n"
      "option -Dopt.with.blank=a b\r\n"
      "option -Xqlxunknown\r\n"
      "property qlxtest.plain=plain\r\n"
      "property qlxtest.eq=a=b=c\r\n"
      "property qlxtest.noeq\r\n"
      "property qlxtest.utf8=\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n"
      "property =skipped\r\n"
      "property qlxtest.bad=a\xFF" "b\x80" "c\xF0\x9F" "d\r\n"
      "argv -a \"b c\" d\\\"e\r\n"
      "argv %QLXTEST_ARG%\r\n";
  const Verify verify = [](JNIEnv* env) {
    bool ok = expectEq("args", callStaticString(env, "qlxtest/Main", "joinedArgs"),
                       "[-a][b c][d\"e][from-env][f1][f 2][s1]");
    ok &= staticBooleanField(env, "qlxtest/Main", "hookRanBeforeMain");
    ok &= expectEq("property at main", staticStringField(env, "qlxtest/Main", "propertyAtMain"),
                   "plain");
    ok &= expectEq("a=b=c", systemProperty(env, "qlxtest.eq"), "a=b=c");
    ok &= expectEq("no =", systemProperty(env, "qlxtest.noeq"), "");
    jclass system = env->FindClass("java/lang/System");
    jstring key = env->NewStringUTF("qlxtest.utf8");
    jstring value = static_cast<jstring>(env->CallStaticObjectMethod(
        system,
        env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;"),
        key));
    ok &= noPendingException(env);
    const jchar expectedUnits[] = {0xE9, 0x20AC, 0xD83D, 0xDE00};
    ok &= value != nullptr && env->GetStringLength(value) == 4;
    if (value != nullptr && env->GetStringLength(value) == 4) {
      jchar units[4];
      env->GetStringRegion(value, 0, 4, units);
      for (int i = 0; i < 4; ++i) ok &= units[i] == expectedUnits[i];
    }
    if (!ok) std::fprintf(stderr, "MISMATCH utf8 property\n");
    // Bytes that form no UTF-8 sequence never reach NewStringUTF as such.
    ok &= expectEq("bad utf8", systemProperty(env, "qlxtest.bad"), "a?b?c??d");  // one ? per stray byte

    const std::string classPath = kClasses + ":";
    ok &= expectEq("java.class.path", systemProperty(env, "java.class.path"), classPath);
    ok &= expectEq("qlx.class.path", systemProperty(env, "qlx.class.path"), classPath);
    ok &= expectEq("qlx.app.path", systemProperty(env, "qlx.app.path"), kClasses);
    ok &= expectEq("application.home", systemProperty(env, "application.home"), kHome);
    ok &= expectEq("qlx.is.elevated", systemProperty(env, "qlx.is.elevated"),
                   geteuid() == 0 ? "true" : "<null>");

    // The configured options come first, in order, then the launcher's own.
    const std::string arguments = callStaticString(env, "qlxtest/Probe", "inputArguments");
    const size_t xmx = arguments.find("-Xmx64m\n");
    const size_t blank = arguments.find("-Dopt.with.blank=a b\n");
    const size_t qlxClassPath = arguments.find("-Dqlx.class.path=" + classPath + "\n");
    const size_t appPath = arguments.find("-Dqlx.app.path=" + kClasses + "\n");
    const size_t home = arguments.find("-Dapplication.home=" + kHome + "\n");
    const bool ordered = xmx < blank && blank < qlxClassPath && qlxClassPath < appPath &&
                         appPath < home && home != std::string::npos;
    if (!ordered) std::fprintf(stderr, "MISMATCH option order:\n%s", arguments.c_str());
    return ok && ordered;
  };
  EXPECT_EXIT(runLaunch(config, {"f1", "f 2"}, {"s1"}, verify), ::testing::ExitedWithCode(0), "");
}

TEST(Launch, MainClassWithSlashes) {
  EXPECT_EXIT(runLaunch("mainclass qlxtest/Main\r\n", {}, {},
                        [](JNIEnv* env) {
                          return expectEq("args", callStaticString(env, "qlxtest/Main", "joinedArgs"), "");
                        }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Launch, UncaughtExceptionInMainIsDescribedAndResultIsOne) {
  EXPECT_EXIT(runLaunch("mainclass qlxtest.Main\r\nproperty qlxtest.mode=throw\r\n", {}, {}),
              ::testing::ExitedWithCode(1), "IllegalStateException: thrown by main");
}

TEST(Launch, SystemExitInMainEndsTheProcess) {
  EXPECT_EXIT(runLaunch("mainclass qlxtest.Main\r\nproperty qlxtest.mode=exit\r\n"
                        "property qlxtest.status=42\r\n",
                        {}, {}),
              ::testing::ExitedWithCode(42), "");
}

struct FailureCase {
  const char* name;
  std::string config;
  int result;
  const char* stderrPattern;  // POSIX extended regex; "." spans lines
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class LaunchFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LaunchFailure, ReportsItsMessageOnce) {
  const FailureCase& c = GetParam();
  EXPECT_EXIT(runLaunch(c.config, {}, {}), ::testing::ExitedWithCode(c.result), c.stderrPattern);
}

const std::string kNotALibrary = kClasses + "/qlxtest/Main.class";

INSTANTIATE_TEST_SUITE_P(
    Results, LaunchFailure,
    ::testing::Values(
        FailureCase{"NotFound", "jvmdll /nonexistent/libjvm.so\r\nmainclass qlxtest.Main\r\n", 1,
                    "^Java Runtime Environment not found\\.\n$"},
        FailureCase{"NotALibrary", "jvmdll " + kNotALibrary + "\r\nmainclass qlxtest.Main\r\n", 2,
                    "Main\\.class.*\nJava Runtime Environment not valid\\.\n$"},
        FailureCase{"NoCreationEntry",
                    "jvmdll /lib/x86_64-linux-gnu/libm.so.6\r\nmainclass qlxtest.Main\r\n", 2,
                    "^Java Runtime Environment not valid\\.\n$"},
        FailureCase{"CreationFails", "option -Xmxfoo\r\nmainclass qlxtest.Main\r\n", 4,
                    "Java Virtual Machine starts failed\\.\n$"},
        FailureCase{"TooLow", "minjre 99\r\nmainclass qlxtest.Main\r\n", 6,
                    "^Java virtual machine version 1[7-9][^ ]* is too low, require 99 or "
                    "higher\\.\n$"},
        // With only an upper limit there is no range to name; the code stays 12.
        FailureCase{"TooHigh", "maxjre 11\r\nmainclass qlxtest.Main\r\n", 12,
                    "^Java virtual machine version 1[7-9][^ ]* is too high, require 11 or "
                    "lower\\.\n$"},
        FailureCase{"TooHighWithBoth", "minjre 1.6\r\nmaxjre 1.8.0_402\r\nmainclass qlxtest.Main\r\n", 12,
                    "version between 1\\.6 and 1\\.8\\.0_402 is required\\.\n$"},
        FailureCase{"HostileLimitsAreNotFormats", "maxjre 11%n%s%x\r\nmainclass qlxtest.Main\r\n",
                    12, "too high, require 11%n%s%x or lower\\.\n$"},
        FailureCase{"WithinLimits", "minjre 1.6\r\nmaxjre 17\r\nmainclass qlxtest.Main\r\n", 0,
                    ""},
        FailureCase{"LimitWithoutNumber", "minjre x\r\nmaxjre y\r\nmainclass qlxtest.Main\r\n", 0,
                    ""},
        FailureCase{"MissingClass", "mainclass qlxtest.Nope\r\n", 7,
                    "NoClassDefFoundError: qlxtest/Nope.*The main startup class could not be "
                    "found\\.\n$"},
        FailureCase{"EmptyMainClass", "mainclass\r\n", 7,
                    "^The main startup class could not be found\\.\n$"},
        FailureCase{"NoMainMethod", "mainclass qlxtest.NoMain\r\n", 8,
                    "NoSuchMethodError.*main.*The main startup class is not valid, main method "
                    "missing\\.\n$"},
        FailureCase{"InstanceMain", "mainclass qlxtest.InstanceMain\r\n", 8,
                    "The main startup class is not valid, main method missing\\.\n$"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(Launch, ExportLinesAndToolOptions) {
  const auto run = [](const std::string& exports, const char* expectedMarker) {
    setenv("JAVA_TOOL_OPTIONS", "-Dtool.marker=inherited", 1);
    setenv("QLXTEST_GONE", "present", 1);
    runLaunch(exports + "mainclass qlxtest.Main\r\n", {}, {}, [=](JNIEnv* env) {
      bool ok = expectEq("tool.marker", systemProperty(env, "tool.marker"), expectedMarker);
      const char* gone = getenv("QLXTEST_GONE");
      const char* noEquals = getenv("QLXTEST_NOEQ");
      const char* added = getenv("QLXTEST_NEW");
      ok &= expectEq("QLXTEST_NEW", added ? added : "<unset>", " v a l ");
      ok &= expectEq("QLXTEST_NOEQ", noEquals ? noEquals : "<unset>", "<unset>");
      ok &= expectEq("QLXTEST_GONE", gone ? gone : "<unset>", "<unset>");
      return ok;
    });
  };
  const std::string common = "export QLXTEST_GONE=\r\nexport QLXTEST_NOEQ\r\n"
                             "export QLXTEST_NEW= v a l \r\n";
  EXPECT_EXIT(run(common, "<null>"), ::testing::ExitedWithCode(0), "");
  // Another spelling replaces the inherited variable (one variable per name
  // whatever its case, as on Windows) but the VM reads only the exact name.
  EXPECT_EXIT(run(common + "export Java_Tool_Options=-Dtool.marker=exported\r\n", "<null>"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run(common + "export JAVA_TOOL_OPTIONS=-Dtool.marker=exported\r\n", "exported"),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qlx::jnitest
