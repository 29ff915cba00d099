// Options chosen by the runtime's version before the VM is created: the
// version is found from the library's place in its home, and native access
// is granted only where the runtime knows the option.
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

TEST(RuntimeOptionsTest, NativeAccessOnlyWhereTheRuntimeKnowsIt) {
  const std::string grant = "--enable-native-access=ALL-UNNAMED";
  struct Case {
    const char* version;
    std::vector<std::string> configured;
    std::vector<std::string> added;
  } cases[] = {
      {"25.0.3", {"-Xmx64m"}, {grant}},
      {"17.0.15", {}, {grant}},
      {"17", {}, {grant}},
      {"16.0.2", {}, {}},
      {"11.0.22", {}, {}},
      {"1.8.0_392", {}, {}},
      {"", {}, {}},
      {"x", {}, {}},
      // The configuration's own grant wins, whatever modules it names.
      {"25", {"--enable-native-access=com.example.app"}, {}},
      {"25", {"--enable-native-access=ALL-UNNAMED"}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(runtimeOptions(c.version, c.configured), c.added) << c.version;
  const std::pair<const char*, int> releases[] = {{"1.8.0_392", 8}, {"1.6", 6}, {"17.0.15", 17},
                                                  {"25", 25}, {"", 0}};
  for (const auto& [text, feature] : releases) EXPECT_EQ(featureRelease(text), feature) << text;
}

}  // namespace
}  // namespace qlx
