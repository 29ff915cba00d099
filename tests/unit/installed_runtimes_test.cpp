// Letter v of discovery against an in-memory registry and file tree: every
// registration shape in every hive and view, the newest-within-limits
// choice and its tie-break, values that name no usable home, version rules.
#include "vm/installed_runtimes.h"

#include <gtest/gtest.h>

#include "fake_os.h"

namespace qlx {
namespace {

using testing::FakeOs;
using testing::programContext;
constexpr RegistryRoot HKLM = RegistryRoot::LocalMachine;
constexpr RegistryRoot HKCU = RegistryRoot::CurrentUser;
constexpr uint32_t kSz = 1, kExpandSz = 2, kDword = 4, kBinary = 3;

std::string regSz(const std::string& text) { return text + std::string(1, '\0'); }

// A Java home with lib/server/libjvm.so and, when given, a release file.
void addHome(FakeOs& os, const std::string& home, const std::string& version = "") {
  os.withDir(home).withDir(home + "/lib").withDir(home + "/lib/server")
      .withFile(home + "/lib/server/libjvm.so");
  if (!version.empty()) os.withContent(home + "/release", "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" +
                                                           version + "\"\nJAVA_VERSION_DATE=\"d\"\n");
}

TEST(InstalledRuntime, EveryRegistrationShapeInEveryHiveAndView) {
  struct Shape {
    const char* key;
    const char* value;
  } shapes[] = {
      {"SOFTWARE\\JavaSoft\\JDK\\21", "JavaHome"},
      {"SOFTWARE\\JavaSoft\\JRE\\17", "RuntimeLib"},
      {"SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8.0_392", "JavaHome"},
      {"SOFTWARE\\JavaSoft\\Java Development Kit\\1.8", "JavaHome"},
      {"SOFTWARE\\IBM\\Java2 Runtime Environment\\1.8", "JavaHome"},
      {"SOFTWARE\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI", "Path"},
      {"SOFTWARE\\Eclipse Adoptium\\JRE\\17.0.9.9\\hotspot\\MSI", "Path"},
      {"SOFTWARE\\AdoptOpenJDK\\JDK\\11.0.20.8\\openj9\\MSI", "Path"},
      {"SOFTWARE\\Eclipse Foundation\\JDK\\16.0.2.7\\hotspot\\MSI", "Path"},
      {"SOFTWARE\\Microsoft\\JDK\\21.0.5.11\\hotspot\\MSI", "Path"},
      {"SOFTWARE\\Semeru\\JDK\\17.0.8.7\\openj9\\MSI", "Path"},
      {"SOFTWARE\\Azul Systems\\Zulu\\zulu-17", "InstallationPath"},
      {"SOFTWARE\\Amazon\\Amazon Corretto\\17.0.9.8\\MSI", "INSTALLDIR"},
      {"SOFTWARE\\BellSoft\\Liberica\\JDK 21\\MSI", "Path"},
  };
  const std::pair<RegistryRoot, RegistryView> places[] = {
      {HKLM, RegistryView::Bits64}, {HKLM, RegistryView::Bits32},
      {HKCU, RegistryView::Bits64}, {HKCU, RegistryView::Bits32}};
  for (const Shape& shape : shapes) {
    for (const auto& [root, view] : places) {
      FakeOs os;
      addHome(os, "/h");
      const bool lib = std::string(shape.value) == "RuntimeLib";
      os.withRegistryIn(view, root, shape.key, shape.value, kSz,
                        regSz(lib ? "/h/lib/server/libjvm.so" : "/h"));
      LauncherContext context = programContext("");
      EXPECT_EQ(installedRuntime(context, os), "/h/lib/server/libjvm.so")
          << shape.key << " root " << static_cast<int>(root) << " view " << static_cast<int>(view);
    }
  }
}

TEST(InstalledRuntime, NewestWithinTheLimits) {
  // Java 8 named by its MSI version only, 17 by its release file, 21 by
  // both; the 32-bit HKCU copy of 17 changes nothing.
  FakeOs os;
  addHome(os, "/j8");
  addHome(os, "/j17", "17.0.9");
  addHome(os, "/j21", "21.0.1");
  os.withRegistryIn(RegistryView::Bits64, HKLM, "SOFTWARE\\Eclipse Adoptium\\JRE\\8.0.392.8\\hotspot\\MSI",
                    "Path", kSz, regSz("/j8"))
      .withRegistryIn(RegistryView::Bits32, HKCU, "SOFTWARE\\Azul Systems\\Zulu\\zulu-17",
                      "InstallationPath", kSz, regSz("/j17"))
      .withRegistryIn(RegistryView::Bits64, HKCU, "SOFTWARE\\JavaSoft\\JDK\\21", "JavaHome",
                      kExpandSz, regSz("%J21%"))
      .withEnv("J21", "/j21");
  const std::pair<const char*, const char*> cases[] = {
      {"", "/j21/lib/server/libjvm.so"},
      {"minjre 11\r\n", "/j21/lib/server/libjvm.so"},
      {"maxjre 17\r\n", "/j17/lib/server/libjvm.so"},
      {"minjre 1.8\r\nmaxjre 20\r\n", "/j17/lib/server/libjvm.so"},
      {"maxjre 1.8\r\n", "/j8/lib/server/libjvm.so"},
      {"minjre 1.8.0_400\r\nmaxjre 1.8\r\n", ""},
      {"minjre 22\r\n", ""},
  };
  for (const auto& [config, expected] : cases) {
    LauncherContext context = programContext(config);
    EXPECT_EQ(installedRuntime(context, os), expected) << config;
  }
}

TEST(InstalledRuntime, UnusableValuesAndHomesAreSkippedAndTiesGoToTheFirstFound) {
  FakeOs os;
  addHome(os, "/good", "17.0.1");
  addHome(os, "/twin", "17.0.1");
  os.withDir("/empty");
  const char* const adoptium = "SOFTWARE\\Eclipse Adoptium\\JDK\\";
  os.withRegistryIn(RegistryView::Bits64, HKLM, std::string(adoptium) + "1\\hotspot\\MSI", "Path",
                    kDword, std::string("\x11\0\0\0", 4))                          // odd type
      .withRegistryIn(RegistryView::Bits64, HKLM, std::string(adoptium) + "2\\hotspot\\MSI",
                      "Path", kBinary, "/good")                                     // odd type
      .withRegistryIn(RegistryView::Bits64, HKLM, std::string(adoptium) + "3\\hotspot\\MSI",
                      "Path", kSz, regSz(""))                                       // empty
      .withKey(RegistryView::Bits64, HKLM, std::string(adoptium) + "4\\hotspot\\MSI")  // missing
      .withRegistryIn(RegistryView::Bits64, HKLM, std::string(adoptium) + "5\\hotspot\\MSI",
                      "Path", kSz, regSz("/missing"))                               // no home
      .withRegistryIn(RegistryView::Bits64, HKLM, std::string(adoptium) + "6\\hotspot\\MSI",
                      "Path", kSz, regSz("/empty"))                                 // no library
      .withRegistryIn(RegistryView::Bits64, HKCU, "SOFTWARE\\Azul Systems\\Zulu\\zulu-17",
                      "InstallationPath", kSz, regSz("/twin"))
      .withRegistryIn(RegistryView::Bits32, HKLM, "SOFTWARE\\Azul Systems\\Zulu\\zulu-17",
                      "InstallationPath", kSz, "/good");  // no terminator stored
  LauncherContext context = programContext("");
  EXPECT_EQ(installedRuntime(context, os), "/good/lib/server/libjvm.so");
}

TEST(InstalledRuntime, VersionRules) {
  FakeOs os;
  os.withContent("/a/release", "JAVA_VERSION=\"1.8.0_392\"\n")
      .withContent("/b/release", "X_JAVA_VERSION=\"9\"\nJAVA_VERSION_DATE=\"2024\"\n")
      .withContent("/c/release", "JAVA_VERSION=\"21");
  EXPECT_EQ(releaseVersion(os, "/a"), "1.8.0_392");
  EXPECT_EQ(releaseVersion(os, "/a/"), "1.8.0_392");
  EXPECT_EQ(releaseVersion(os, "/b"), "");
  EXPECT_EQ(releaseVersion(os, "/c"), "");
  EXPECT_EQ(releaseVersion(os, "/none"), "");

  const std::pair<const char*, std::vector<int>> comparable[] = {
      {"8.0.392.8", {1, 8, 0, 392}}, {"1.8.0_392", {1, 8, 0, 392}}, {"17.0.9", {17, 0, 9}},
      {"8", {1, 8}},                 {"", {}},                       {"2.1", {1, 2, 1}},
      {"9.0.4", {9, 0, 4}},
  };
  for (const auto& [text, numbers] : comparable) EXPECT_EQ(comparableVersion(text), numbers) << text;

  EXPECT_TRUE(newerVersion({17, 0, 9}, {17, 0, 2}));
  EXPECT_TRUE(newerVersion({17}, {}));
  EXPECT_FALSE(newerVersion({17}, {17, 0, 0}));
  EXPECT_FALSE(newerVersion({1, 8}, {17}));
}

}  // namespace
}  // namespace qlx
