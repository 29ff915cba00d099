// The main class at wrap time: deflated entries read back, the manifest's
// Main-Class taken when the configuration names none, and a class that is
// in no archive reported while wrapping.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/unit/zip_builder.h"
#include "tools/qlxwrap/inflate.h"
#include "tools/qlxwrap/main_class.h"
#include "tools/qlxwrap/wrap.h"

namespace qlx::wrap {
namespace {

using qlx::testing::makeStub;
using qlx::testing::makeZip;

std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

const char kManifest[] =
    "Manifest-Version: 1.0\r\nMain-Class: com.example.Main\r\nCreated-By: 17 (Debian)\r\n\r\n";

TEST(MainClassTest, InflateReadsEveryBlockTypeAndRefusesDamage) {
  // Made with zlib (raw deflate): fixed codes, dynamic codes, a stored block.
  const std::string fixed = fromHex(
      "f34dcccb4c4b2d2ed10d4b2d2acecccfb35230d433e0e5f24dccccd375ce492c2eb65248cecfd54bad48cc"
      "2dc849d50389f3723917a52696a4a6e83a5502959b2b68b8a4266526e669f272f1720100");
  const std::string dynamic = fromHex(
      "8dd23b0ec2301045d1de92f7900dd8f1e49f74080a9ad020d10fc64196f2b13005cb2709b4234de3e6794e"
      "757b9cfde0e25bdddc2bfa65ee12d0468a1efdac8e23c6d8257699b4fbe01446a73104bd6d525c7072fb96"
      "feb7d41a63b4dd6ea4b89e0f2a2b2b75f2cf15ef12bcdb871b7eeffa4d0a02001e002490f1808c04721e90"
      "9340c1030a122879404902150fa848a0e6013509343ca021819607b41400bc12812c117825c25ee217");
  std::string big = "Manifest-Version: 1.0\r\nMain-Class: com.example.app.Main\r\n";
  for (int i = 0; i < 12; ++i) {
    char entry[80];
    std::snprintf(entry, sizeof entry,
                  "Name: com/example/c%03d.class\r\nSHA-256-Digest: abcdefabcdef%03d\r\n\r\n", i, i);
    big += entry;
  }
  struct Case {
    const char* name;
    std::string data;
    size_t limit;
    const char* expected;  // nullptr: refused
  } cases[] = {
      {"fixed", fixed, 4096, kManifest},
      {"dynamic", dynamic, 4096, big.c_str()},
      {"stored", fromHex("011000efff4d61696e2d436c6173733a20612e420a"), 4096, "Main-Class: a.B\n"},
      {"cut short", fixed.substr(0, fixed.size() / 2), 4096, nullptr},
      {"stored length check", fromHex("011000eeff4d61696e"), 4096, nullptr},
      {"reserved block type", fromHex("07"), 4096, nullptr},
      {"larger than allowed", dynamic, 100, nullptr},
      {"empty", "", 4096, nullptr},
  };
  for (const Case& c : cases) {
    std::string out, error;
    const bool ok = inflateRaw(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(),
                               c.limit, out, error);
    EXPECT_EQ(ok, c.expected != nullptr) << c.name << ": " << error;
    if (ok && c.expected != nullptr) EXPECT_EQ(out, c.expected) << c.name;
    if (!ok) EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(MainClassTest, ManifestAttributeOfTheMainSection) {
  const std::pair<std::string, std::string> cases[] = {
      {kManifest, "com.example.Main"},
      {"Manifest-Version: 1.0\nmain-class:a.B\n", "a.B"},
      // Wrapped at 72 bytes: the continuation line goes on after its one space.
      {"Main-Class: com.example.very.long.package.name.that.goes.on.and.on.Applic\r\n ation\r\n"
       "X: y\r\n",
       "com.example.very.long.package.name.that.goes.on.and.on.Application"},
      {"Manifest-Version: 1.0\r\n\r\nName: x\r\nMain-Class: not.Main\r\n", ""},  // other section
      {"Main-Classes: a.B\r\n", ""},
      {"", ""},
  };
  for (const auto& [manifest, expected] : cases)
    EXPECT_EQ(manifestAttribute(manifest, "Main-Class"), expected) << manifest;
}

struct WrapCase {
  const char* name;
  std::string config;
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::pair<std::string, std::string>> merged;
  bool ok;
  std::string blockStart;  // the block's text after the mark
  std::string note;        // a note that must be given ("" for none)
  std::string warning;     // a warning that must be given ("" for none)
};

TEST(MainClassTest, WrappingTakesOrChecksTheMainClass) {
  const std::pair<std::string, std::string> manifest = {"META-INF/MANIFEST.MF", kManifest};
  const std::pair<std::string, std::string> mainClass = {"com/example/Main.class", "x"};
  const WrapCase cases[] = {
      {"from the manifest", "option -Xmx64m\n", {manifest, mainClass}, {}, true,
       "mainclass com.example.Main\r\noption -Xmx64m\r\n",
       "com.example.Main, the Main-Class of the JAR's manifest, is used", ""},
      // The first mainclass line counts even when empty: the taken one goes first.
      {"empty line replaced", "mainclass\n", {manifest, mainClass}, {}, true,
       "mainclass com.example.Main\r\nmainclass\r\n", "Main-Class of the JAR's manifest", ""},
      {"named and present", "mainclass com.example.Main\n", {mainClass}, {}, true,
       "mainclass com.example.Main\r\n", "", ""},
      {"slashes name the same class", "mainclass com/example/Main\n", {mainClass}, {}, true,
       "mainclass com/example/Main\r\n", "", ""},
      {"in a merged archive", "mainclass lib.Start\n", {mainClass},
       {{"lib/Start.class", "y"}}, true, "mainclass lib.Start\r\n", "", ""},
      {"in a version folder", "mainclass a.B\n", {{"META-INF/versions/11/a/B.class", "z"}}, {},
       true, "mainclass a.B\r\n", "", ""},
      {"named but missing", "mainclass com.example.Mian\n", {manifest, mainClass}, {}, true,
       "mainclass com.example.Mian\r\n", "",
       "mainclass com.example.Mian is in neither the JAR nor a merged archive (no "
       "com/example/Mian.class)"},
      // A trailing blank is part of the name the launcher looks for.
      {"trailing blank", "mainclass com.example.Main \n", {mainClass}, {}, true, "", "",
       "(no com/example/Main .class)"},
      {"manifest names a missing class", "", {manifest}, {}, true, "mainclass com.example.Main",
       "is used", "is in neither the JAR"},
      {"neither", "option -Xmx64m\n", {mainClass}, {}, false, "", "", ""},
  };
  for (const WrapCase& c : cases) {
    WrapInput in;
    in.stub = makeStub();
    in.config = Bytes(c.config.begin(), c.config.end());
    in.archive = makeZip(c.entries);
    if (!c.merged.empty()) in.merges.push_back(makeZip(c.merged));
    WrapResult out;
    Failure f;
    ASSERT_EQ(buildWrapped(in, out, f), c.ok) << c.name << ": " << f.message;
    if (!c.ok) {
      EXPECT_NE(f.message.find("no mainclass"), std::string::npos) << c.name;
      continue;
    }
    const std::string file(out.output.begin(), out.output.end());
    EXPECT_NE(file.find("\xEF\xBB\xBF" + c.blockStart), std::string::npos) << c.name;
    const auto has = [](const std::vector<std::string>& lines, const std::string& part) {
      for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) return true;
      return false;
    };
    EXPECT_EQ(has(out.notes, "manifest"), !c.note.empty()) << c.name;
    if (!c.note.empty()) EXPECT_TRUE(has(out.notes, c.note)) << c.name;
    EXPECT_EQ(out.warnings.empty(), c.warning.empty()) << c.name;
    if (!c.warning.empty()) EXPECT_TRUE(has(out.warnings, c.warning)) << c.name;
  }
}

}  // namespace
}  // namespace qlx::wrap
