// Class path assembly against an in-memory directory tree: exact texts of
// both halves, the joins, wildcards, archive directories and environment.
#include "vm/classpath.h"

#include <gtest/gtest.h>

#include "fake_os.h"
#include "launcher/expand.h"

namespace qlx {
namespace {

using testing::FakeOs;
using testing::programContext;

// Expectations are written with ';' and turned into the platform separator.
std::string J(std::string text) {
  for (char& c : text)
    if (c == ';') c = kPathListSeparator;
  return text;
}

// /app/lib lists: z.jar, ext/, readme.txt, a.jar, c.jar.bak, d.jarx, noext, A.JAR, sub.zip/
FakeOs fixture() {
  FakeOs os;
  os.withDir("/app")
      .withDir("/app/lib")
      .withFile("/app/lib/z.jar")
      .withDir("/app/lib/ext")
      .withFile("/app/lib/ext/b.Zip")
      .withDir("/app/lib/ext/deeper")
      .withFile("/app/lib/ext/deeper/c.jar")
      .withFile("/app/lib/ext/after.zip")
      .withFile("/app/lib/readme.txt")
      .withFile("/app/lib/a.jar")
      .withFile("/app/lib/c.jar.bak")
      .withFile("/app/lib/d.jarx")
      .withFile("/app/lib/noext")
      .withFile("/app/lib/A.JAR")
      .withDir("/app/lib/sub.zip")
      .withDir("/app/only-dirs")
      .withDir("/app/only-dirs/one")
      .withFile("/app/only-dirs/one/x.jar")
      .withDir("/app/only-dirs/two")
      .withFile("/app/only-dirs/two/y.jar")
      .withDir("/start")
      .withDir("/start/s")
      .withFile("/start/s/start-only.jar");
  return os;
}

const char* const kLibArchives =
    ";/app/lib/z.jar;/app/lib/ext/b.Zip;/app/lib/ext/deeper/c.jar;/app/lib/ext/after.zip"
    ";/app/lib/a.jar;/app/lib/A.JAR";

TEST(CollectArchives, DepthFirstInListingOrderWithExtensionTest) {
  FakeOs os = fixture();
  for (const char* directory : {"/app/lib", "/app/lib/"}) {
    std::string out = "start";
    collectArchives(os, directory, out);
    EXPECT_EQ(out, "start" + J(kLibArchives)) << directory;
  }
}

TEST(CollectArchives, DirectoryOfSubdirectoriesOnly) {
  FakeOs os = fixture();
  std::string out;
  collectArchives(os, "/app/only-dirs", out);
  EXPECT_EQ(out, J(";/app/only-dirs/one/x.jar;/app/only-dirs/two/y.jar"));
}

TEST(CollectArchives, MissingDirectoryContributesNothing) {
  FakeOs os = fixture();
  std::string out;
  collectArchives(os, "/app/nowhere", out);
  EXPECT_EQ(out, "");
}

TEST(CollectArchives, DirectoryLoopStopsAtDepthLimit) {
  // A directory that lists itself again below (as a link back up would).
  class LoopOs : public FakeOs {
   public:
    bool listDirectory(const std::string& pattern, std::vector<DirEntry>& out) override {
      ++listings;
      out.push_back({"again", true});
      out.push_back({"x.jar", false});
      (void)pattern;
      return true;
    }
    int listings = 0;
  } os;
  std::string out;
  collectArchives(os, "/loop", out);
  EXPECT_GT(os.listings, 1);
  EXPECT_LE(os.listings, 64);
}

struct ClassPathCase {
  const char* name;
  std::string config;
  std::vector<std::pair<std::string, std::string>> env;
  std::string expected;  // ';' stands for the platform separator
};

// Test names stay short in the test listing.
void PrintTo(const ClassPathCase& c, std::ostream* out) { *out << c.name; }

class ClassPathTest : public ::testing::TestWithParam<ClassPathCase> {};

TEST_P(ClassPathTest, ExactText) {
  const ClassPathCase& c = GetParam();
  FakeOs os = fixture();
  for (const auto& [name, value] : c.env) os.withEnv(name, value);
  LauncherContext context = programContext(c.config);
  EXPECT_EQ(buildClassPath(context, os), J(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassPathTest,
    ::testing::Values(
        ClassPathCase{"NoKeys", "", {}, "/app/prog;"},
        ClassPathCase{"EmptyClasspathEnvIsAnEntry", "", {{"CLASSPATH", ""}}, "/app/prog;;"},
        ClassPathCase{"EnvironmentAppendedRawInOrder",
                      "",
                      {{"CLASS_PATH", "/second"}, {"CLASSPATH", "x y %HOME% *.jar"}},
                      "/app/prog;;x y %HOME% *.jar;/second"},
        ClassPathCase{"ClasspathUnderHome", "classpath lib/a.jar\r\n", {}, "/app/prog;;/app/lib/a.jar"},
        ClassPathCase{"ClasspathStartDirectoryFallback", "classpath s/start-only.jar\r\n", {},
                      "/app/prog;;/start/s/start-only.jar"},
        ClassPathCase{"ClasspathMissingStaysUnderHome", "classpath none.jar\r\n", {},
                      "/app/prog;;/app/none.jar"},
        ClassPathCase{"EmptyElementsSkipped", "classpath /a.jar;;/b.jar;\r\n", {},
                      "/app/prog;;/a.jar;/b.jar"},
        ClassPathCase{"JavaClasspathFirstWhateverTheOrder",
                      "classpath /c1.jar\r\njava_classpath /j1.jar\r\nclasspath /c2.jar\r\n"
                      "java_classpath /j2.jar\r\n",
                      {},
                      "/app/prog;/j1.jar;/j2.jar;;/c1.jar;/c2.jar"},
        ClassPathCase{"Wildcard", "classpath /app/lib/*.jar\r\n", {},
                      "/app/prog;;/app/lib/z.jar;/app/lib/a.jar"},
        ClassPathCase{"WildcardWithoutMatches", "classpath /app/lib/*.war\r\n", {}, "/app/prog;"},
        ClassPathCase{"Libs", "libs lib\r\n", {}, std::string("/app/prog;") + kLibArchives},
        ClassPathCase{"JavaLibs", "java_libs lib\r\n", {},
                      std::string("/app/prog") + kLibArchives + ";"},
        ClassPathCase{"LibsAfterClasspathBeforeEnvironment",
                      "libs only-dirs\r\nclasspath /c.jar\r\n",
                      {{"CLASSPATH", "/env"}},
                      "/app/prog;;/c.jar;/app/only-dirs/one/x.jar;/app/only-dirs/two/y.jar;/env"},
        ClassPathCase{"SameArchiveTwice", "classpath lib/a.jar\r\nlibs lib/ext/deeper\r\n"
                      "classpath lib/ext/deeper/c.jar\r\n", {},
                      "/app/prog;;/app/lib/a.jar;/app/lib/ext/deeper/c.jar;/app/lib/ext/deeper/c.jar"},
        ClassPathCase{"EmptyLibsLineContributesNothing", "libs\r\njava_libs %EMPTY%\r\n",
                      {{"EMPTY", ""}}, "/app/prog;"},
        ClassPathCase{"MissingLibsDirectory", "libs nowhere\r\n", {}, "/app/prog;"},
        ClassPathCase{"LibsExpanded", "libs %D%\r\n", {{"D", "/app/only-dirs/two"}},
                      "/app/prog;;/app/only-dirs/two/y.jar"}),
    [](const ::testing::TestParamInfo<ClassPathCase>& info) { return info.param.name; });

TEST(ClassPath, HalvesSeparately) {
  FakeOs os = fixture();
  os.withEnv("CLASSPATH", "/env");
  LauncherContext context = programContext("java_classpath /j.jar\r\nclasspath /c.jar\r\n");
  EXPECT_EQ(assembleClassPath(context, os, false), J("/app/prog;/j.jar"));
  EXPECT_EQ(assembleClassPath(context, os, true), J(";/c.jar;/env"));
}

TEST(ClassPath, RootArchiveLengthEndsTheFirstHalfWithAnEmptyEntry) {
  FakeOs os = fixture();
  LauncherContext context = programContext("java_classpath /j.jar\r\nclasspath /c.jar\r\n");
  context.payload.rootJarLength = true;
  EXPECT_EQ(assembleClassPath(context, os, false), J("/app/prog;/j.jar;"));
  EXPECT_EQ(buildClassPath(context, os), J("/app/prog;/j.jar;;;/c.jar"));
  context = programContext("");
  context.payload.rootJarLength = true;
  EXPECT_EQ(buildClassPath(context, os), J("/app/prog;;"));
}

}  // namespace
}  // namespace qlx
