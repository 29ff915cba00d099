// Runtime discovery against an in-memory file tree, environment and
// registry: search order, every source, searchHome order and the cache.
#include "vm/discovery.h"

#include <gtest/gtest.h>

#include "vm/installed_runtimes.h"

#include "fake_os.h"

namespace qlx {
namespace {

using testing::FakeOs;
using testing::programContext;
constexpr RegistryRoot HKLM = RegistryRoot::LocalMachine;
const char* const kJre = "SOFTWARE\\JavaSoft\\JRE";
const char* const kJdk = "SOFTWARE\\JavaSoft\\JDK";
const char* const kJreOld = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char* const kJdkOld = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char* const kIbm = "SOFTWARE\\IBM\\Java2 Runtime Environment";

std::string regSz(const std::string& text) { return text + std::string(1, '\0'); }

// One runtime for every source, so the search order decides which wins.
FakeOs everySource() {
  FakeOs os;
  os.withDir("/rt").withDir("/rt/c").withFile("/rt/c/libjvm.so");
  // beside the program: ./jre/ resolved against the application home
  os.withDir("/app").withDir("/app/./jre").withDir("/app/./jre/lib")
      .withDir("/app/./jre/lib/server").withFile("/app/./jre/lib/server/libjvm.so");
  os.withRegistry(HKLM, kJdk, "CurrentVersion", 1, regSz("17"))
      .withRegistry(HKLM, std::string(kJdk) + "\\17", "RuntimeLib", 1,
                    regSz("/rt/s/lib/server/libjvm.so"))
      .withFile("/rt/s/lib/server/libjvm.so");
  os.withRegistry(HKLM, kIbm, "CurrentVersion", 1, regSz("1.8"))
      .withRegistry(HKLM, std::string(kIbm) + "\\1.8", "JavaHome", 1, regSz("/rt/i"))
      .withDir("/rt/i").withDir("/rt/i/lib").withDir("/rt/i/lib/server")
      .withFile("/rt/i/lib/server/libjvm.so");
  os.withEnv("JAVA_HOME", "/rt/e")
      .withDir("/rt/e").withDir("/rt/e/lib").withDir("/rt/e/lib/server")
      .withFile("/rt/e/lib/server/libjvm.so");
  return os;
}

const char* const kFromC = "/rt/c/libjvm.so";
const char* const kFromB = "/app/./jre/lib/server/libjvm.so";
const char* const kFromS = "/rt/s/lib/server/libjvm.so";
const char* const kFromI = "/rt/i/lib/server/libjvm.so";
const char* const kFromE = "/rt/e/lib/server/libjvm.so";

TEST(SearchOrder, LowerCasedOrDefault) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "cbsiev"},  {"xyz", "cbsiev"}, {"x e", "x e"}, {"SE", "se"},
      {"CBSIE", "cbsie"}, {"ee", "ee"},  {" ", "cbsiev"}, {"Ib", "ib"}, {"xV", "xv"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(searchOrder(value), expected) << value;
}

TEST(FindVmLibrary, EveryLetterAndItsDefaulting) {
  const std::pair<const char*, const char*> cases[] = {
      {"c", kFromC},    {"b", kFromB},   {"s", kFromS},   {"i", kFromI},  {"e", kFromE},
      {"", kFromC},     {"xyz", kFromC}, {"x e", kFromE}, {"SE", kFromS}, {"ES", kFromE},
      {"eb", kFromE},   {"zzI", kFromI}, {"B", kFromB},
      // v finds the IBM registration (its home holds a library); an earlier
      // letter that finds a runtime keeps v from being asked.
      {"v", kFromI},    {"ev", kFromE},  {"cv", kFromC},
  };
  for (const auto& [order, expected] : cases) {
    FakeOs os = everySource();
    LauncherContext context =
        programContext(std::string("jre_order ") + order + "\r\njvmdll /rt/c/libjvm.so\r\n");
    std::string cache = "-";
    EXPECT_EQ(findVmLibrary(context, os, cache), expected) << "jre_order " << order;
    EXPECT_EQ(cache, expected);
  }
}

TEST(FindVmLibrary, RuntimeBesideTheProgramBeatsTheRegistryByDefault) {
  FakeOs os = everySource();
  LauncherContext context = programContext("");
  std::string cache = "-";
  EXPECT_EQ(findVmLibrary(context, os, cache), kFromB);
}

TEST(FindVmLibrary, ConfiguredLibraryResolution) {
  struct Case {
    const char* jvmdll;
    const char* expected;
  } cases[] = {
      {"/rt/c/libjvm.so", kFromC},
      {"%RT%/libjvm.so", kFromC},              // expanded first
      {"bin/libjvm.so", "/start/bin/libjvm.so"},  // only under the start directory
      {"home/libjvm.so", "/app/home/libjvm.so"},  // under the application home
      {"/missing/libjvm.so", kFromE},             // not readable: next letter
      {"", kFromE},
  };
  for (const Case& c : cases) {
    FakeOs os = everySource();
    os.withEnv("RT", "/rt/c").withFile("/start/bin/libjvm.so").withFile("/app/home/libjvm.so");
    LauncherContext context = programContext(std::string("jre_order ce\r\njvmdll ") + c.jvmdll + "\r\n");
    std::string cache = "-";
    EXPECT_EQ(findVmLibrary(context, os, cache), c.expected) << c.jvmdll;
  }
}

TEST(FindVmLibrary, ConfiguredJreDirectory) {
  FakeOs os;
  os.withDir("/app/rt").withDir("/app/rt/lib").withDir("/app/rt/lib/server")
      .withFile("/app/rt/lib/server/libjvm.so");
  LauncherContext context = programContext("jre_order b\r\njre rt\r\n");
  std::string cache = "-";
  EXPECT_EQ(findVmLibrary(context, os, cache), "/app/rt/lib/server/libjvm.so");
}

TEST(FindVmLibrary, NothingFoundIsCachedAsEmpty) {
  FakeOs os;
  LauncherContext context = programContext("");
  std::string cache = "-";
  EXPECT_EQ(findVmLibrary(context, os, cache), "");
  EXPECT_EQ(cache, "");
  const int reads = os.registryReads;
  EXPECT_GT(reads, 0);
  // A later runtime does not count: the one search has been made.
  os.withEnv("JAVA_HOME", "/late").withDir("/late").withFile("/late/libjvm.so");
  EXPECT_EQ(findVmLibrary(context, os, cache), "");
  EXPECT_EQ(os.registryReads, reads);
}

TEST(FindVmLibrary, CacheIsReturnedWithoutSearching) {
  FakeOs os = everySource();
  LauncherContext context = programContext("jre_order s\r\n");
  std::string cache = "-";
  EXPECT_EQ(findVmLibrary(context, os, cache), kFromS);
  const int reads = os.registryReads;
  os.registry.clear();
  EXPECT_EQ(findVmLibrary(context, os, cache), kFromS);
  EXPECT_EQ(os.registryReads, reads);
  std::string preset = "/given/libjvm.so";
  EXPECT_EQ(findVmLibrary(context, os, preset), "/given/libjvm.so");
}

TEST(RegistryRuntime, KeysInOrderAndValueVariants) {
  // JRE's CurrentVersion names a missing subkey; JDK has neither value;
  // the old JRE key points RuntimeLib nowhere; the old JDK key would work.
  FakeOs os;
  os.withRegistry(HKLM, kJre, "CurrentVersion", 1, regSz("9"))
      .withRegistry(HKLM, kJdk, "CurrentVersion", 1, regSz("11"))
      .withRegistry(HKLM, std::string(kJdk) + "\\11", "Other", 1, regSz("x"))
      .withRegistry(HKLM, kJreOld, "CurrentVersion", 1, regSz("1.8") + "junk")
      .withRegistry(HKLM, std::string(kJreOld) + "\\1.8", "RuntimeLib", 1,
                    regSz("/old/bin/client/libjvm.so"))
      .withDir("/old").withDir("/old/bin").withDir("/old/bin/server")
      .withFile("/old/bin/server/libjvm.so")
      .withRegistry(HKLM, kJdkOld, "CurrentVersion", 1, regSz("1.6"))
      .withRegistry(HKLM, std::string(kJdkOld) + "\\1.6", "RuntimeLib", 1,
                    regSz("/jdk6/libjvm.so"))
      .withFile("/jdk6/libjvm.so");
  LauncherContext context = programContext("jre_order s\r\n");
  EXPECT_EQ(registryRuntime(context, os, kJre), "");
  EXPECT_EQ(registryRuntime(context, os, kJdk), "");
  // RuntimeLib missing on disk: searchHome two levels above it.
  EXPECT_EQ(registryRuntime(context, os, kJreOld), "/old/bin/server/libjvm.so");
  std::string cache = "-";
  EXPECT_EQ(findVmLibrary(context, os, cache), "/old/bin/server/libjvm.so");
}

TEST(RegistryRuntime, RuntimeLibWithAndWithoutPreferredType) {
  FakeOs os;
  os.withRegistry(HKLM, kJre, "CurrentVersion", 1, regSz("8"))
      .withRegistry(HKLM, std::string(kJre) + "\\8", "RuntimeLib", 1,
                    "/j8/bin/client/libjvm.so")  // no terminator stored
      .withDir("/j8").withDir("/j8/bin").withDir("/j8/bin/client")
      .withFile("/j8/bin/client/libjvm.so").withDir("/j8/bin/server")
      .withFile("/j8/bin/server/libjvm.so");
  LauncherContext plain = programContext("");
  EXPECT_EQ(registryRuntime(plain, os, kJre), "/j8/bin/client/libjvm.so");
  LauncherContext single = programContext("vm s\r\n");
  EXPECT_EQ(registryRuntime(single, os, kJre), "/j8/bin/client/libjvm.so");
  LauncherContext server = programContext("vm server\r\n");
  EXPECT_EQ(registryRuntime(server, os, kJre), "/j8/bin/server/libjvm.so");
}

TEST(RegistryRuntime, JavaHomeWhenRuntimeLibIsAbsent) {
  FakeOs os;
  os.withRegistry(HKLM, kIbm, "CurrentVersion", 1, regSz("1.4"))
      .withRegistry(HKLM, std::string(kIbm) + "\\1.4", "JavaHome", 1, regSz("/ibm/"))
      .withDir("/ibm").withFile("/ibm/libjvm.so");
  LauncherContext context = programContext("");
  EXPECT_EQ(registryRuntime(context, os, kIbm), "/ibm/libjvm.so");
}

TEST(RegistryRuntime, SeparatorAtTheStartIsNotCut) {
  FakeOs os;
  os.withRegistry(HKLM, kJre, "CurrentVersion", 1, regSz("1"))
      .withRegistry(HKLM, std::string(kJre) + "\\1", "RuntimeLib", 1, regSz("/x/libjvm.so"))
      .withDir("/x").withFile("/x/libjvm.so.gone");
  LauncherContext context = programContext("");
  // "/x/libjvm.so" -> "/x" -> "/x" (the only separator left starts the text).
  os.withFile("/x/lib/server/libjvm.so").withDir("/x/lib").withDir("/x/lib/server");
  EXPECT_EQ(registryRuntime(context, os, kJre), "/x/lib/server/libjvm.so");
}

TEST(EnvironmentRuntime, JreHomeThenJavaHome) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> env;
    const char* expected;
  } cases[] = {
      {{{"JRE_HOME", ""}, {"JAVA_HOME", "/jh"}}, "/jh/libjvm.so"},
      {{{"JRE_HOME", "/jr"}, {"JAVA_HOME", "/jh"}}, "/jr/libjvm.so"},
      {{{"JRE_HOME", "/empty"}, {"JAVA_HOME", "/jh"}}, "/jh/libjvm.so"},
      {{{"JAVA_HOME", "/empty"}}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) {
    FakeOs os;
    os.withDir("/jh").withFile("/jh/libjvm.so").withDir("/jr").withFile("/jr/libjvm.so")
        .withDir("/empty");
    for (const auto& [n, v] : c.env) os.withEnv(n, v);
    LauncherContext context = programContext("");
    EXPECT_EQ(environmentRuntime(context, os), c.expected);
  }
}

TEST(SearchHome, CandidateOrder) {
  // /h/alpha/ comes before /h/lib/ in the candidate order (home itself
  // first), and client is listed before server.
  FakeOs os;
  os.withDir("/h").withDir("/h/lib").withDir("/h/lib/client").withFile("/h/lib/client/libjvm.so")
      .withDir("/h/lib/server").withFile("/h/lib/server/libjvm.so");
  struct Case {
    const char* config;
    const char* home;
    const char* expected;
  } cases[] = {
      {"", "/h", "/h/lib/client/libjvm.so"},
      {"", "/h/", "/h/lib/client/libjvm.so"},
      {"vm server\r\n", "/h", "/h/lib/server/libjvm.so"},
      {"vm s\r\n", "/h", "/h/lib/client/libjvm.so"},    // one character: no preference
      {"vm %T%\r\n", "/h", "/h/lib/server/libjvm.so"},  // expanded
      {"vm missing\r\n", "/h", "/h/lib/client/libjvm.so"},
      {"", "/nowhere", ""},
  };
  for (const Case& c : cases) {
    FakeOs copy = os;
    copy.withEnv("T", "server");
    LauncherContext context = programContext(c.config);
    EXPECT_EQ(searchHome(context, copy, c.home), c.expected) << c.config << c.home;
  }
  // The home itself and its subdirectories come before lib/.
  os.withDir("/h/alpha").withFile("/h/alpha/libjvm.so");
  LauncherContext context = programContext("vm server\r\n");
  EXPECT_EQ(searchHome(context, os, "/h"), "/h/alpha/libjvm.so");
  os.withFile("/h/libjvm.so");
  EXPECT_EQ(searchHome(context, os, "/h"), "/h/libjvm.so");
}

TEST(SearchHome, BackslashHomeKeepsItsSeparator) {
  FakeOs os;
  os.withFile("C:\\rt\\libjvm.so").withFile("C:\\rt/libjvm.so");
  LauncherContext context = programContext("");
  EXPECT_EQ(searchHome(context, os, "C:\\rt\\"), "C:\\rt\\libjvm.so");
  EXPECT_EQ(searchHome(context, os, "C:\\rt"), "C:\\rt/libjvm.so");
  EXPECT_EQ(searchHome(context, os, ""), "");
}

TEST(SearchHome, PlatformCandidates) {
  ASSERT_STREQ(kVmLibraryName, "libjvm.so");
  ASSERT_GE(kHomeSubdirectoryCount, 2);
  EXPECT_STREQ(kHomeSubdirectories[0], "");
  EXPECT_STREQ(kHomeSubdirectories[1], "lib/");
  // A Java 8 JDK layout is found from the JDK home.
  FakeOs os;
  os.withDir("/j8/jre/lib/amd64").withDir("/j8/jre/lib/amd64/server")
      .withFile("/j8/jre/lib/amd64/server/libjvm.so");
  LauncherContext context = programContext("");
  EXPECT_EQ(searchHome(context, os, "/j8"), "/j8/jre/lib/amd64/server/libjvm.so");
  // A home that names the runtime's bin directory.
  os.withDir("/j17/bin").withDir("/j17/bin/../lib").withDir("/j17/bin/../lib/server")
      .withFile("/j17/bin/../lib/server/libjvm.so");
  EXPECT_EQ(searchHome(context, os, "/j17/bin"), "/j17/bin/../lib/server/libjvm.so");
}

TEST(InstalledRuntime, VersionRules) {
  FakeOs os;
  os.withContent("/a/release", "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"1.8.0_392\"\n")
      .withContent("/b/release", "X_JAVA_VERSION=\"9\"\nJAVA_VERSION_DATE=\"2024\"\n")
      .withContent("/c/release", "JAVA_VERSION=\"21");
  const std::pair<const char*, const char*> release[] = {
      {"/a", "1.8.0_392"}, {"/a/", "1.8.0_392"}, {"/b", ""}, {"/c", ""}, {"/none", ""}};
  for (const auto& [home, version] : release) EXPECT_EQ(releaseVersion(os, home), version) << home;
  // Installers name Java 8 "8.0.392.8"; the VM calls itself 1.8.0_392.
  const std::pair<const char*, std::vector<int>> comparable[] = {
      {"8.0.392.8", {1, 8, 0, 392}}, {"1.8.0_392", {1, 8, 0, 392}}, {"17.0.9", {17, 0, 9}},
      {"8", {1, 8}}, {"", {}}, {"9.0.4", {9, 0, 4}}};
  for (const auto& [text, numbers] : comparable)
    EXPECT_EQ(comparableVersion(text), numbers) << text;
  EXPECT_TRUE(newerVersion({17, 0, 9}, {17, 0, 2}));
  EXPECT_TRUE(newerVersion({17}, {}));
  EXPECT_FALSE(newerVersion({17}, {17, 0, 0}));
  EXPECT_FALSE(newerVersion({1, 8}, {17}));
}

}  // namespace
}  // namespace qlx
