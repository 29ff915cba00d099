// What depends on the runtime's version before the VM is created: the
// version is found from the library's place in its home, and the launcher
// binds the natives itself only where loading them would warn.
#include "vm/runtime_options.h"

#include <gtest/gtest.h>

#include "tests/unit/fake_os.h"

namespace qlx {
namespace {

using testing::FakeOs;

TEST(RuntimeOptionsTest, VersionComesFromTheHomeAboveTheLibrary) {
  FakeOs os;
  os.withContent("/jdk17/release", "JAVA_VERSION=\"17.0.15\"\n")
      .withContent("/jdk8/release", "JAVA_VERSION=\"1.8.0_392\"\n")
      .withContent("C:\\jre25\\release", "JAVA_VERSION=\"25.0.3\"\n")
      .withContent("/deep/release", "JAVA_VERSION=\"21\"\n");
  const std::pair<const char*, const char*> cases[] = {
      {"/jdk17/lib/server/libjvm.so", "17.0.15"},
      {"/jdk8/jre/bin/server/jvm.dll", "1.8.0_392"},
      {"C:\\jre25\\bin\\server\\jvm.dll", "25.0.3"},
      {"/deep/a/b/c/d/libjvm.so", ""},
      {"/opt/avian/jvm.dll", ""},  // no release file: nothing is assumed
      {"jvm.dll", ""},
      {"", ""},
  };
  for (const auto& [library, version] : cases) EXPECT_EQ(runtimeVersionOf(os, library), version) << library;
}

TEST(RuntimeOptionsTest, NativesBoundByTheLauncherFromJava24On) {
  const std::pair<const char*, bool> cases[] = {{"25.0.3", true}, {"24", true},
                                                {"23.0.1", false}, {"17.0.15", false},
                                                {"1.8.0_392", false}, {"", false}, {"x", false}};
  for (const auto& [version, binds] : cases) EXPECT_EQ(bindsNativesItself(version), binds) << version;
  const std::pair<const char*, int> releases[] = {{"1.8.0_392", 8}, {"1.6", 6}, {"17.0.15", 17},
                                                  {"25", 25}, {"", 0}};
  for (const auto& [text, feature] : releases) EXPECT_EQ(featureRelease(text), feature) << text;
}

}  // namespace
}  // namespace qlx
