// The class-data archive's pure decisions: the key's setting, options that
// manage sharing already, which runtimes qualify, the archive head, what
// goes into the key, and the names in the cache folder.
#include "vm/class_data.h"

#include <gtest/gtest.h>

#include "fake_os.h"

namespace qlx {
namespace {

TEST(ClassDataSetting, ModesAndFolder) {
  struct Case {
    const char* value;
    ClassDataMode mode;
    const char* folder;
  } cases[] = {
      {"", ClassDataMode::Auto, ""},        {"auto", ClassDataMode::Auto, ""},
      {"AUTO", ClassDataMode::Auto, ""},    {"off", ClassDataMode::Off, ""},
      {"Off", ClassDataMode::Off, ""},      {"false", ClassDataMode::Off, ""},
      {"%TEMP%\\jsa", ClassDataMode::Folder, "%TEMP%\\jsa"},
      {"cache", ClassDataMode::Folder, "cache"},
      {"offline", ClassDataMode::Folder, "offline"},
  };
  for (const Case& c : cases) {
    const ClassDataSetting setting = parseClassDataSetting(c.value);
    EXPECT_EQ(setting.mode, c.mode) << c.value;
    EXPECT_EQ(setting.folder, c.folder) << c.value;
  }
}

TEST(MentionsClassSharing, OptionsThatManageArchives) {
  const std::pair<const char*, bool> cases[] = {
      {"-Xshare:off", true},
      {"-XX:SharedArchiveFile=a.jsa", true},
      {"-XX:ArchiveClassesAtExit=b.jsa", true},
      {"-xx:sharedarchivefile=a.jsa", true},
      {"-XX:AOTCache=app.aot", true},
      {"-XX:AOTMode=record", true},
      {"-Xmx1g\n-XX:+UseG1GC", false},
      {"-XX:+AutoCreateSharedArchive", false},
      {"", false},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(mentionsClassSharing(text), expected) << text;
  }
}

TEST(RuntimeRefusal, HotSpotThirteenAndLaterWithItsBaseArchive) {
  const std::string lib = "/jdk/lib/server/libjvm.so";
  struct Case {
    const char* release;  // null: no release file
    bool baseArchive;
    bool refused;
    const char* version;
  } cases[] = {
      {"JAVA_VERSION=\"17.0.15\"\nIMPLEMENTOR=\"Debian\"\n", true, false, "17.0.15"},
      {"JAVA_VERSION=\"25.0.3\"\nJVM_VARIANT=\"Hotspot\"\n", true, false, "25.0.3"},
      {"JAVA_VERSION=\"13\"\n", true, false, "13"},
      {"JAVA_VERSION=\"12.0.2\"\n", true, true, "12.0.2"},
      {"JAVA_VERSION=\"1.8.0_402\"\n", true, true, "1.8.0_402"},
      {"JAVA_VERSION=\"21.0.2\"\nJVM_VARIANT=\"Openj9\"\n", true, true, "21.0.2"},
      {"JAVA_VERSION=\"17.0.15\"\n", false, true, "17.0.15"},
      {"IMPLEMENTOR=\"x\"\n", true, true, ""},
      {nullptr, true, true, ""},
  };
  for (const Case& c : cases) {
    testing::FakeOs os;
    if (c.release != nullptr) os.withContent("/jdk/release", c.release);
    if (c.baseArchive) os.withFile("/jdk/lib/server/classes.jsa");
    std::string version;
    const char* refusal = runtimeRefusal(os, lib, version);
    EXPECT_EQ(refusal != nullptr, c.refused) << (c.release ? c.release : "none");
    EXPECT_EQ(version, c.version);
  }
}

TEST(ArchiveHead, OnlyAFinishedDynamicArchive) {
  struct Case {
    std::vector<uint8_t> head;
    bool whole;
  } cases[] = {
      // As JDK 17 and JDK 25 wrote them.
      {{0xa8, 0xab, 0x0b, 0xf0, 0xbf, 0x84, 0x0f, 0x78, 0x0b, 0, 0, 0, 0, 0, 0, 0}, true},
      {{0xa8, 0xab, 0x0b, 0xf0, 0xf3, 0xed, 0x5a, 0x17, 0x13, 0, 0, 0, 0xf0, 3, 0, 0}, true},
      // A dump cut short: the head is written last.
      {std::vector<uint8_t>(16, 0), false},
      // The base (static) archive's magic.
      {{0xa2, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0x0b, 0, 0, 0, 0, 0, 0, 0}, false},
      {{0xa8, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {{0xa8, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0x0b}, false},
      {{}, false},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(archiveHeadValid(cases[i].head.data(), cases[i].head.size()), cases[i].whole) << i;
  }
}

TEST(ShapesArchive, SystemPropertiesOnlyOfTheJdk) {
  const std::pair<const char*, bool> cases[] = {
      {"-Xmx512m", true},
      {"-XX:-UseCompressedOops", true},
      {"--add-opens=java.base/java.lang=ALL-UNNAMED", true},
      {"-javaagent:a.jar", true},
      {"-Djava.class.path=/a/app", true},
      {"-Djava.system.class.loader=x.L", true},
      {"-Djdk.module.main=m", true},
      {"-Dqlx.app.path=/a/app", false},
      {"-Dqlx.is.elevated=true", false},
      {"-Dsession=42", false},
  };
  for (const auto& [option, expected] : cases) EXPECT_EQ(shapesArchive(option), expected) << option;
}

TEST(KeyBuilder, EveryPartAndItsBoundsCount) {
  FileStamp stamp{true, false, 100, 1700000000};
  const std::string base = KeyBuilder().add("digest").add(stamp).add("-Xmx1g").hex();
  EXPECT_EQ(base.size(), 32u);
  EXPECT_EQ(base, KeyBuilder().add("digest").add(stamp).add("-Xmx1g").hex());

  FileStamp sameSizeOtherTime = stamp, otherSize = stamp, folder = stamp, missing;
  sameSizeOtherTime.mtime += 1;
  otherSize.size += 1;
  folder.isDirectory = true;
  const std::string variants[] = {
      KeyBuilder().add("digesT").add(stamp).add("-Xmx1g").hex(),
      KeyBuilder().add("digest").add(sameSizeOtherTime).add("-Xmx1g").hex(),
      KeyBuilder().add("digest").add(otherSize).add("-Xmx1g").hex(),
      KeyBuilder().add("digest").add(folder).add("-Xmx1g").hex(),
      KeyBuilder().add("digest").add(missing).add("-Xmx1g").hex(),
      KeyBuilder().add("digest").add(stamp).add("-Xmx2g").hex(),
      KeyBuilder().add("digest").add(stamp).add("-Xmx1").add("g").hex(),
      KeyBuilder().add("digest").add(stamp).hex(),
  };
  for (const std::string& variant : variants) EXPECT_NE(variant, base);
}

TEST(CacheNames, ProgramTagArchiveAndTemporary) {
  const std::string tag = programTag("/opt/My App/tool-1.2.bin");
  EXPECT_EQ(tag.substr(0, tag.size() - 9), "tool_1_2");
  EXPECT_EQ(tag.size(), 8u + 1 + 8);
  EXPECT_NE(programTag("/opt/other/tool-1.2.bin"), tag);  // one program is one file at one place
  EXPECT_EQ(programTag("C:\\Apps\\Server.exe").substr(0, 7), "Server-");

  const std::string key(32, 'a');
  const std::string archive = archiveName(tag, key);
  EXPECT_EQ(archive, tag + "-" + key + ".jsa");
  const std::string temporary = temporaryName(archive, 4242);
  EXPECT_EQ(temporary, archive + ".4242.tmp");

  const std::pair<std::string, uint32_t> owners[] = {
      {temporary, 4242},
      {archiveName(tag, key), 0},
      {temporaryName(archiveName("other-12345678", key), 7), 0},
      {archive + "..tmp", 0},
      {archive + ".12a.tmp", 0},
      {archive + ".99999999999.tmp", 0},
      {tag + "-.5.tmp", 5},
  };
  for (const auto& [name, owner] : owners) EXPECT_EQ(temporaryOwner(name, tag), owner) << name;
}

}  // namespace
}  // namespace qlx
