// The class-data archive's pure decisions: the key's setting, options that
// manage sharing already (wherever the VM reads them), which runtimes
// qualify, the heads of finished files, what goes into the key and into
// the cache's assembly, the names in the cache folder, what a start does
// with what it finds there, and what goes once a new file is in place.
#include "vm/class_data.h"

#include <gtest/gtest.h>

#include "fake_os.h"
#include "vm/folder_check_posix.h"

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
      {"-XX:AOTCacheOutput=app.aot", true},
      {"-XX:AOTConfiguration=app.conf", true},
      {"-XX:+AOTClassLinking", true},
      {"-XX:-UseSharedSpaces", true},
      {"-XX:+RequireSharedSpaces", true},
      {"-XX:+AutoCreateSharedArchive", true},
      {"-XX:DumpLoadedClassList=c.lst", true},
      {"-XX:SharedClassListFile=c.lst", true},
      {"+UseSharedSpaces", true},  // as a -XX:Flags file spells it
      {"-Xmx1g\n-XX:+UseG1GC", false},
      {"-XX:+UseCompressedOops -Xss1m", false},
      {"", false},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(mentionsClassSharing(text), expected) << text;
  }
}

TEST(SharingManagedBy, EveryPlaceTheVmReadsOptionsFrom) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::vector<std::string> environment;  // JAVA_TOOL_OPTIONS, _JAVA_OPTIONS
    bool managed;
  } cases[] = {
      {"nothing", {"-Xmx64m", "-Djava.class.path=/a/app"}, {"", ""}, false},
      {"an option line", {"-XX:-UseSharedSpaces"}, {"", ""}, true},
      {"a property's value is data", {"-Dnote=-Xshare:off"}, {"", ""}, false},
      {"tool options", {}, {"-Xmx1g -Xshare:off", ""}, true},
      {"_JAVA_OPTIONS", {}, {"", "-XX:SharedArchiveFile=/x.jsa"}, true},
      {"quoted in the environment", {}, {"\"-Dx=a b\" '-XX:+AutoCreateSharedArchive'", ""}, true},
      {"a property in the environment", {}, {"-Dx=-Xshare:off", ""}, false},
      {"-XX:Flags file", {"-XX:Flags=/cfg/flags"}, {"", ""}, true},
      {"-XX:Flags file, harmless", {"-XX:Flags=/cfg/plain"}, {"", ""}, false},
      {"VMOptionsFile", {"-XX:VMOptionsFile=/cfg/options"}, {"", ""}, true},
      {"VMOptionsFile naming a Flags file", {"-XX:VMOptionsFile=/cfg/chain"}, {"", ""}, true},
      {"Flags from the environment", {}, {"-XX:Flags=/cfg/flags", ""}, true},
      {"an options file that cannot be read", {"-XX:VMOptionsFile=/cfg/missing"}, {"", ""}, true},
      {"files that name each other", {"-XX:VMOptionsFile=/cfg/loop"}, {"", ""}, true},
  };
  testing::FakeOs os;
  os.withContent("/cfg/flags", "+UseCompressedOops\n-UseSharedSpaces\n")
      .withContent("/cfg/plain", "+UseCompressedOops\nMaxHeapSize=64m\n")
      .withContent("/cfg/options", "-Xmx64m\n-XX:AOTCache=/x.aot\n")
      .withContent("/cfg/chain", "-Xmx64m -XX:Flags=/cfg/flags")
      .withContent("/cfg/loop", "-XX:VMOptionsFile=/cfg/loop");
  for (const Case& c : cases) {
    EXPECT_EQ(sharingManagedBy(c.options, c.environment[0], c.environment[1], os) != nullptr,
              c.managed)
        << c.what;
  }
}

TEST(AssemblyKeeps, WhatShapesTheCacheButNothingThatActsOutsideTheVm) {
  const std::pair<const char*, bool> cases[] = {
      {"-Xmx512m", true},
      {"-XX:+UseZGC", true},
      {"--add-opens=java.base/java.lang=ALL-UNNAMED", true},
      {"-Djava.security.manager=allow", true},
      {"-Djava.class.path=/a/app", false},  // given as -cp
      {"-Dcom.sun.management.jmxremote.port=9010", false},
      {"-Dapp.mode=x", false},
      {"-agentlib:jdwp=transport=dt_socket,server=y,address=5005", false},
      {"-javaagent:/a/agent.jar", false},
      {"-Xlog:gc:file=gc.log", false},
      {"-Xloggc:gc.log", false},
      {"-verbose:class", false},
      {"-XX:StartFlightRecording=filename=app.jfr", false},
      {"-XX:+HeapDumpOnOutOfMemoryError", false},
      {"-XX:ErrorFile=/var/log/hs_err.log", false},
      {"-XX:OnOutOfMemoryError=kill -9 %p", false},
      {"-XX:+LogVMOutput", false},
  };
  for (const auto& [option, kept] : cases) EXPECT_EQ(assemblyKeeps(option), kept) << option;
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

TEST(ArchiveHead, OnlyAFinishedArchiveOfItsKind) {
  struct Case {
    std::vector<uint8_t> head;
    bool dynamic;
    bool cache;
  } cases[] = {
      // Dynamic archives as JDK 17 and JDK 25 wrote them, a cache as Temurin 25 did.
      {{0xa8, 0xab, 0x0b, 0xf0, 0xbf, 0x84, 0x0f, 0x78, 0x0b, 0, 0, 0, 0, 0, 0, 0}, true, false},
      {{0xa8, 0xab, 0x0b, 0xf0, 0xf3, 0xed, 0x5a, 0x17, 0x13, 0, 0, 0, 0xf0, 3, 0, 0}, true, false},
      {{0xa2, 0xab, 0x0b, 0xf0, 0xe3, 0xbb, 0x3f, 0x03, 0x13, 0, 0, 0, 0xd8, 3, 0, 0}, false, true},
      // Cut short: the head is written last.
      {std::vector<uint8_t>(16, 0), false, false},
      // A recorded AOT configuration is neither.
      {{0x7c, 0xa0, 0xfe, 0xca, 0x47, 0xa0, 0x11, 0x47, 0x13, 0, 0, 0, 0xd8, 3, 0, 0}, false,
       false},
      {{0xa8, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, false},
      {{0xa2, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, false},
      {{0xa8, 0xab, 0x0b, 0xf0, 0, 0, 0, 0, 0x0b}, false, false},
      {{}, false, false},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(archiveHeadValid(c.head.data(), c.head.size()), c.dynamic) << i;
    EXPECT_EQ(cacheHeadValid(c.head.data(), c.head.size()), c.cache) << i;
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

TEST(CacheNames, ProgramTag) {
  const std::string tag = programTag("/opt/My App/tool-1.2.bin");
  EXPECT_EQ(tag.substr(0, tag.size() - 9), "tool_1_2");
  EXPECT_EQ(tag.size(), 8u + 1 + 8);
  EXPECT_NE(programTag("/opt/other/tool-1.2.bin"), tag);  // one program is one file at one place
  EXPECT_EQ(programTag("C:\\Apps\\Server.exe").substr(0, 7), "Server-");
}

TEST(CacheNames, EveryKindReadsBackAndNothingElseIsOurs) {
  const std::string tag = "app-0123abcd", key(32, 'e'), base = tag + "-" + key;
  const std::pair<CacheFile, const char*> kinds[] = {
      {CacheFile::Archive, ".jsa"},
      {CacheFile::Cache, ".aot"},
      {CacheFile::ClassList, ".classlist"},
      {CacheFile::Refusal, ".refused"},
      {CacheFile::ArchiveDump, ".jsa.4242.tmp"},
      {CacheFile::ClassListDump, ".classlist.4242.tmp"},
      {CacheFile::CacheDump, ".aot.4242.tmp"},
      {CacheFile::AssemblyLog, ".aot.4242.log"},
      {CacheFile::StartMarker, ".4242.start"},
  };
  for (const auto& [kind, suffix] : kinds) {
    const std::string name = cacheFileName(base, kind, 4242);
    EXPECT_EQ(name, base + suffix);
    const CacheEntry entry = parseCacheFileName(name, tag);
    EXPECT_EQ(entry.kind, kind) << name;
    EXPECT_EQ(entry.key, key) << name;
    EXPECT_EQ(entry.number, kind >= CacheFile::ArchiveDump ? 4242u : 0u) << name;
  }
  const std::string foreign[] = {
      "other-0123abcd-" + key + ".jsa",  // another program
      tag + "-" + std::string(31, 'e') + ".jsa",  // not a key
      tag + "-" + std::string(32, 'E') + ".jsa",
      base + ".jsa.tmp",  base + ".jsa..tmp", base + ".jsa.12a.tmp", base + ".jsa.0.tmp",
      base + ".jsa.99999999999.tmp", base + ".aot.7.txt", base + ".start", base + ".jsax",
      base,
  };
  for (const std::string& name : foreign) {
    EXPECT_EQ(parseCacheFileName(name, tag).kind, CacheFile::Unknown) << name;
  }
}

TEST(PlanClassData, WhatAStartDoesWithWhatItFinds) {
  using S = ClassDataStep;
  using K = ArchiveKind;
  struct Case {
    const char* what;
    K kind;
    KeyFacts facts;
    S step;
    K used;
    bool reason;
  };
  KeyFacts none, refused, deadStart, archive, cache, assembled, listed, assembling, failedOnce,
      failedTwice, failedTwiceWithArchive;
  refused.refused = true;
  refused.cacheUsable = refused.archiveUsable = true;
  deadStart.deadStart = 77;
  deadStart.cacheUsable = true;
  archive.archiveUsable = true;
  cache.cacheUsable = true;
  cache.classList = true;
  assembled.assembled = 5;
  assembled.classList = true;
  listed.classList = true;
  assembling = listed;
  assembling.assembling = true;
  failedOnce = listed;
  failedOnce.failedAssemblies = 1;
  failedTwice = listed;
  failedTwice.failedAssemblies = kAssemblyTries;
  failedTwiceWithArchive = failedTwice;
  failedTwiceWithArchive.archiveUsable = true;
  const Case cases[] = {
      {"refused", K::AotCache, refused, S::None, K::AotCache, true},
      {"refused, dynamic", K::Dynamic, refused, S::None, K::Dynamic, true},
      {"killed while created", K::AotCache, deadStart, S::None, K::AotCache, true},
      {"first run, 17", K::Dynamic, none, S::DumpArchive, K::Dynamic, false},
      {"second run, 17", K::Dynamic, archive, S::UseArchive, K::Dynamic, false},
      {"first run, 25", K::AotCache, none, S::RecordClassList, K::AotCache, false},
      {"an archive is no cache", K::AotCache, archive, S::RecordClassList, K::AotCache, false},
      {"cache", K::AotCache, cache, S::UseCache, K::AotCache, false},
      {"assembled", K::AotCache, assembled, S::TakeCache, K::AotCache, false},
      {"assembling", K::AotCache, assembling, S::None, K::AotCache, true},
      {"list, no assembly", K::AotCache, listed, S::AssembleCache, K::AotCache, true},
      {"one failure: again", K::AotCache, failedOnce, S::AssembleCache, K::AotCache, true},
      {"two: dynamic", K::AotCache, failedTwice, S::DumpArchive, K::Dynamic, true},
      {"two, archive", K::AotCache, failedTwiceWithArchive, S::UseArchive, K::Dynamic, true},
  };
  for (const Case& c : cases) {
    const ClassDataPlan plan = planClassData(c.kind, c.facts);
    EXPECT_EQ(plan.step, c.step) << c.what;
    EXPECT_EQ(plan.kind, c.used) << c.what;
    EXPECT_EQ(plan.reason != nullptr, c.reason) << c.what;
  }
}

TEST(RemovableAfterPlacing, OlderKeysAndLeftoversButNothingLive) {
  const std::string key(32, 'a'), old(32, 'b');
  using F = CacheFile;
  using K = ArchiveKind;
  struct Case {
    F kind;
    const std::string* of;
    K placed;
    bool live;
    bool removable;
  } cases[] = {
      {F::Archive, &old, K::Dynamic, false, true},   {F::Cache, &old, K::AotCache, false, true},
      {F::Refusal, &old, K::Dynamic, false, true},   {F::ClassList, &old, K::Dynamic, false, true},
      {F::ArchiveDump, &old, K::Dynamic, true, false},
      {F::AssemblyLog, &old, K::Dynamic, true, false},
      {F::Archive, &key, K::Dynamic, false, false},  {F::Cache, &key, K::AotCache, false, false},
      {F::Refusal, &key, K::Dynamic, false, false},
      {F::ArchiveDump, &key, K::Dynamic, false, true},
      {F::ClassListDump, &key, K::Dynamic, true, false},
      {F::StartMarker, &key, K::AotCache, false, true},
      {F::StartMarker, &key, K::Dynamic, true, false},
      // The list and the assemblies' records count the tries until a cache is in place.
      {F::ClassList, &key, K::Dynamic, false, false},
      {F::ClassList, &key, K::AotCache, false, true},
      {F::AssemblyLog, &key, K::Dynamic, false, false},
      {F::AssemblyLog, &key, K::AotCache, false, true},
      {F::CacheDump, &key, K::AotCache, false, true},
      {F::CacheDump, &key, K::AotCache, true, false},
      {F::Unknown, &old, K::Dynamic, false, false},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const Case& c = cases[i];
    CacheEntry entry{c.kind, *c.of, 9};
    EXPECT_EQ(removableAfterPlacing(entry, key, c.placed, c.live), c.removable) << i;
  }
}

TEST(PosixPathProblem, OwnerModeAndKindByRole) {
  constexpr uid_t kUser = 1000, kOther = 1001;
  struct Case {
    const char* what;
    mode_t mode;
    uid_t owner;
    nlink_t links;
    PathRole role;
    bool groupPrivate;
    bool safe;
  } cases[] = {
      {"private folder", S_IFDIR | 0700, kUser, 2, PathRole::Root, false, true},
      {"readable folder", S_IFDIR | 0755, kUser, 2, PathRole::Below, false, true},
      {"world-writable root", S_IFDIR | 0777, kUser, 2, PathRole::Root, false, false},
      {"another user's root", S_IFDIR | 0700, kOther, 2, PathRole::Root, false, false},
      {"root's folder as the root", S_IFDIR | 0755, 0, 2, PathRole::Root, false, false},
      {"group-writable", S_IFDIR | 0770, kUser, 2, PathRole::Below, false, false},
      {"group-writable, private group", S_IFDIR | 0775, kUser, 2, PathRole::Below, true, true},
      {"a link below the root", S_IFLNK | 0777, kUser, 1, PathRole::Below, false, false},
      {"a file where a folder goes", S_IFREG | 0600, kUser, 1, PathRole::Below, false, false},
      {"/tmp above", S_IFDIR | S_ISVTX | 0777, 0, 2, PathRole::Above, false, true},
      {"a shared folder above", S_IFDIR | 0777, 0, 2, PathRole::Above, false, false},
      {"home above", S_IFDIR | 0755, kUser, 2, PathRole::Above, false, true},
      {"another user's home above", S_IFDIR | 0755, kOther, 2, PathRole::Above, false, false},
      {"archive", S_IFREG | 0400, kUser, 1, PathRole::File, false, true},
      {"archive the umask left open", S_IFREG | 0666, kUser, 1, PathRole::File, false, false},
      {"group-writable archive", S_IFREG | 0660, kUser, 1, PathRole::File, true, false},
      {"another user's archive", S_IFREG | 0400, kOther, 1, PathRole::File, false, false},
      {"an archive with a second name", S_IFREG | 0400, kUser, 2, PathRole::File, false, false},
      {"a link as the archive", S_IFLNK | 0777, kUser, 1, PathRole::File, false, false},
  };
  for (const Case& c : cases) {
    struct stat info {};
    info.st_mode = c.mode;
    info.st_uid = c.owner;
    info.st_nlink = c.links;
    EXPECT_EQ(posixPathProblem(info, kUser, c.role, c.groupPrivate) == nullptr, c.safe) << c.what;
  }
}

}  // namespace
}  // namespace qlx
