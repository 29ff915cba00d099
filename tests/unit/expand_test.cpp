// Value expansion: the four reference forms and the escapes, built-in
// variables, registry references, UTF-8 re-encoding, path lists and the
// wildcard matcher.
#include <gtest/gtest.h>

#include <clocale>

#include "launcher/expand.h"
#include "tests/unit/fake_os.h"

namespace qlx {
namespace {

using testing::FakeOs;

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

class ExpandTest : public ::testing::Test {
 protected:
  ExpandTest() {
    ctx.applicationPath = "C:\\apps\\tool.exe";
    ctx.applicationHome = "C:\\apps\\";
    ctx.startDirectory = "C:\\work/";
    os.withEnv("PATH", "/bin").withEnv("Empty", "").withEnv("pct", "50%$x");
  }
  std::string expand(const std::string& text, bool utf8 = false) {
    return expandValue(ctx, os, text, utf8);
  }
  LauncherContext ctx;
  FakeOs os;
};

TEST_F(ExpandTest, AClosedReferenceToNothingIsReported) {
  os.withRegistry(RegistryRoot::LocalMachine, "SOFTWARE\\V", "Set", 1, std::string("x\0", 2));
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"-Dopts=%JAVA_OPTS%", {"%JAVA_OPTS%"}},
      {"%{NO_SUCH}%;${NOT_SET}", {"%{NO_SUCH}%", "${NOT_SET}"}},
      {"${HKLM\\SOFTWARE\\V\\Gone}", {"${HKLM\\SOFTWARE\\V\\Gone}"}},
      // Resolved, escaped, defaulted or not a reference: nothing to say.
      {"%PATH% %% $$ 100% ${X|fallback} ${HKLM\\SOFTWARE\\V\\Set}", {}},
      // A bare $NAME is as often plain text (a class name with '$' in it).
      {"com.example.Outer$Inner a$b", {}},
  };
  for (const auto& [text, references] : cases) {
    os.warnings.clear();
    const std::string out = expand(text);
    ASSERT_EQ(os.warnings.size(), references.size()) << text;
    for (size_t i = 0; i < references.size(); ++i) {
      EXPECT_EQ(os.warnings[i], "Warning: " + references[i] +
                                    " in the configuration is not set; it stays as written.");
      EXPECT_NE(out.find(references[i]), std::string::npos) << text;  // still as written
    }
  }
}

TEST_F(ExpandTest, ReferenceFormsAndEscapes) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"100%", "100%"},
      {"a$b c", "a$b c"},
      {"%%", "%"},
      {"$$", "$"},
      {"%{}%", "%"},
      {"${}$", "$"},
      {"%{}x", "%{}x"},
      {"${}x", "${}x"},
      {"%PATH", "%PATH"},
      {"%PATH%", "/bin"},
      {"%path%", "/bin"},
      {"%{PATH}%", "/bin"},
      {"%{PATH}", "%{PATH}"},
      {"$PATH", "/bin"},
      {"${PATH}", "/bin"},
      {"$PATH$PATH", "/bin/bin"},
      {"x$PATH.y", "x/bin.y"},
      {"%PATH%%PATH%", "/bin/bin"},
      {"${PATH", "/bin"},  // no '}': the name runs to the end of the text
      {"${UNSET_VAR", "${UNSET_VAR"},
      {"%{PATH", "%{PATH"},
      {"$", "$"},
      {"%", "%"},
      {"$ x", "$ x"},
      {"%%PATH%", "%PATH%"},
      {"$UNSET_VAR", "$UNSET_VAR"},
      {"%UNSET_VAR%", "%UNSET_VAR%"},
      {"${UNSET VAR}", "${UNSET VAR}"},
      {"$Empty|", "|"},
      {"%pct%", "50%$x"},  // substituted values are never scanned again
      {"%PATH%x%", "/binx%"},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;
}

TEST_F(ExpandTest, BuiltinVariables) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"${APPLICATION_HOME}lib\\x.jar", "C:\\apps\\lib\\x.jar"},
      {"%application_home%", "C:\\apps\\"},
      {"$PWD", "C:\\work/"},
      {"$QLX_APP_PATH", "C:\\apps\\tool.exe"},
      {"$ARCH", "x86"},
      {"[%HOME%]", "[]"},  // HOMEDRIVE/HOMEPATH missing: known but empty
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;
  os.withEnv("HOMEDRIVE", "D:").withEnv("HOMEPATH", "\\Users\\me");
  EXPECT_EQ(expand("$HOME"), "D:\\Users\\me");
  EXPECT_FALSE(builtinVariable(ctx, os, "NOPE").has_value());
}

TEST_F(ExpandTest, EnvironmentOverridesBuiltins) {
  os.withEnv("APPLICATION_HOME", "/env/home/").withEnv("pwd", "/env/pwd").withEnv("HOME", "/h");
  EXPECT_EQ(expand("$APPLICATION_HOME|$PWD|$HOME"), "/env/home/|/env/pwd|/h");
}

TEST_F(ExpandTest, RegistryReferences) {
  os.withRegistry(RegistryRoot::LocalMachine, "SOFTWARE\\Vendor\\Key", "Value", 1,
                  std::string("hello\0junk", 10))
      .withRegistry(RegistryRoot::CurrentUser, "Software\\X", "", 1, "default-value")
      .withRegistry(RegistryRoot::CurrentUser, "Top", "", 1, "top-default")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Dword", 4, le32(0xFFFFFFFF))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Dword7", 4, le32(7))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Big", 5, std::string("\0\0\x01\x02", 4))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Short", 4, std::string("\x05", 1))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Binary", 3, "\x01\x02")
      .withRegistry(RegistryRoot::LocalMachine, "S", "Multi", 7, std::string("a\0b\0\0", 5))
      .withRegistry(RegistryRoot::LocalMachine, "S", "Expand", 2, "%PATH%\\x;$ARCH")
      .withRegistry(RegistryRoot::Users, "S", "V", 1, "users")
      .withRegistry(RegistryRoot::ClassesRoot, "S", "V", 1, "classes")
      .withRegistry(RegistryRoot::CurrentConfig, "S", "V", 1, "config");
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"${HKLM\\SOFTWARE\\Vendor\\Key\\Value}", "hello"},
      {"${HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Key\\Value}", "hello"},
      {"%{HKLM\\SOFTWARE\\Vendor\\Key\\Value}%", "hello"},
      {"${HKLM\\SOFTWARE\\Vendor\\Key\\Value|fallback}", "hello"},
      {"${HKLM\\SOFTWARE\\Vendor\\Key\\Missing|fallback}", "fallback"},
      {"${HKLM\\SOFTWARE\\Vendor\\Key\\Missing}", "${HKLM\\SOFTWARE\\Vendor\\Key\\Missing}"},
      {"${HKLM\\SOFTWARE\\Vendor\\Key\\Missing|}", ""},
      {"${HKCU\\Top}", "top-default"},
      {"${HKCU\\Software\\X\\}", "default-value"},
      {"${hklm\\SOFTWARE\\Vendor\\Key\\Value}", "${hklm\\SOFTWARE\\Vendor\\Key\\Value}"},
      {"${hklm\\SOFTWARE\\Vendor\\Key\\Value|d}", "d"},
      {"${ANY|text}", "text"},
      {"${ANY|a|b}", "a|b"},
      {"$HKLM\\Key", "$HKLM\\Key"},
      {"${HKLM\\S\\Dword}", "-1"},
      {"${HKLM\\S\\Dword7}", "7"},
      {"${HKLM\\S\\Big}", "258"},
      {"${HKLM\\S\\Short}", "5"},
      {"[${HKLM\\S\\Binary}]", "[]"},
      {"[${HKLM\\S\\Multi|x}]", "[]"},
      {"${HKLM\\S\\Expand}", "/bin\\x;x86"},
      {"${HKU\\S\\V}${HKCR\\S\\V}${HKCC\\S\\V}", "usersclassesconfig"},
      {"${HKEY_USERS\\S\\V}${HKEY_CLASSES_ROOT\\S\\V}${HKEY_CURRENT_CONFIG\\S\\V}",
       "usersclassesconfig"},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;
}

TEST_F(ExpandTest, SelfReferencingExpandValueStopsAtTheDepthLimit) {
  // The value names itself: past the limit the innermost reference is left
  // as written, so the result is finite and shows where the loop was.
  const std::string self = "${HKLM\\S\\Self}";
  os.withRegistry(RegistryRoot::LocalMachine, "S", "Self", 2, "<" + self + ">");
  std::string expected = self;
  for (int i = 0; i < kMaxRegistryExpansionDepth; ++i) expected = "<" + expected + ">";
  EXPECT_EQ(expand(self), expected);
  EXPECT_EQ(os.registryReads, kMaxRegistryExpansionDepth);
  // With a default text the innermost reference gives the default.
  os.registry.clear();
  os.withRegistry(RegistryRoot::LocalMachine, "S", "Self", 2, "(${HKLM\\S\\Self|end})");
  std::string withDefault = "end";
  for (int i = 0; i < kMaxRegistryExpansionDepth; ++i) withDefault = "(" + withDefault + ")";
  EXPECT_EQ(expand("${HKLM\\S\\Self|end}"), withDefault);
}

TEST_F(ExpandTest, ValueThatNamesItselfManyTimesIsBounded) {
  std::string data;
  for (int i = 0; i < 10; ++i) data += "${HKLM\\S\\Fan}";
  os.withRegistry(RegistryRoot::LocalMachine, "S", "Fan", 2, data);
  const std::string out = expand("${HKLM\\S\\Fan}");
  EXPECT_LE(os.registryReads, 64);
  EXPECT_LT(out.size(), 100000u);
}

TEST_F(ExpandTest, Utf8ReencodesSubstitutedValuesOnly) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  // In a UTF-8 locale the narrow text is already UTF-8: re-encoding keeps it.
  os.withEnv("ACCENT", "caf\xC3\xA9");
  EXPECT_EQ(expand("$ACCENT", true), "caf\xC3\xA9");
  std::setlocale(LC_ALL, "C");
  // Not a character of the C code page: re-encoding marks it, the plain
  // expansion inserts the byte unchanged.
  os.withEnv("BYTE", "\xE9");
  EXPECT_EQ(expand("$BYTE", false), "\xE9");
  EXPECT_EQ(expand("$BYTE", true), "?");
  EXPECT_EQ(expand("\xC3\xA9$$", true), "\xC3\xA9$");  // literal text is never re-encoded
  std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(ExpandTest, LineHandlers) {
  StringList list;
  expandLine(ctx, os, list, "$PATH");
  expandLineUtf8(ctx, os, list, "%PATH%/x");
  EXPECT_EQ(list, (StringList{"/bin", "/bin/x"}));
}

TEST_F(ExpandTest, VmKeyValueIsCachedAndDashWhenEmpty) {
  struct Case {
    std::string config;
    std::string value;
  } cases[] = {
      {"vm server", "server"},
      {"vm", "-"},
      {"vm $NOTHING_HERE_EMPTY", "-"},
      {"", "-"},
      {"vm $PATH", "/bin"},
  };
  os.withEnv("NOTHING_HERE_EMPTY", "");
  for (const Case& c : cases) {
    LauncherContext local = ctx;
    local.configText = c.config;
    EXPECT_EQ(vmKeyValue(local, os), c.value) << c.config;
    local.configText = "vm changed";
    EXPECT_EQ(vmKeyValue(local, os), c.value) << c.config;  // cached
  }
}

TEST_F(ExpandTest, ResolveAppPath) {
  os.withFile("C:\\apps\\lib\\a.jar").withFile("C:\\work/only-here.jar");
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"\\abs\\x.jar", "\\abs\\x.jar"},
      {"/abs/x.jar", "/abs/x.jar"},
      {"D:rel.jar", "D:rel.jar"},
      {"lib\\a.jar", "C:\\apps\\lib\\a.jar"},
      {"only-here.jar", "C:\\work/only-here.jar"},
      {"missing.jar", "C:\\apps\\missing.jar"},
      {"", ""},  // nothing configured, nothing resolved
  };
  for (const Case& c : cases) EXPECT_EQ(resolveAppPath(ctx, os, c.in), c.out) << c.in;
}

TEST_F(ExpandTest, FindMatchesInListingOrderAndRecursion) {
  os.withDir("lib")
      .withFile("lib/b.jar")
      .withFile("lib/a.jar")
      .withFile("lib/notes.txt")
      .withDir("lib/sub1")
      .withDir("lib/sub2")
      .withFile("lib/sub1/x.jar")
      .withFile("lib/sub2/x.jar")
      .withFile("lib/sub2/y.jar")
      .withFile("lib/file-not-dir");
  struct Case {
    std::string pattern;
    StringList matches;
  } cases[] = {
      {"lib/*.jar", {"lib/b.jar", "lib/a.jar"}},
      {"lib/?.jar", {"lib/b.jar", "lib/a.jar"}},
      {"lib/*/x.jar", {"lib/sub1/x.jar", "lib/sub2/x.jar"}},
      {"lib/*/*.jar", {"lib/sub1/x.jar", "lib/sub2/x.jar", "lib/sub2/y.jar"}},
      {"lib/sub*", {"lib/sub1", "lib/sub2"}},
      {"lib/*.none", {}},
      {"nodir/*.jar", {}},
      {"lib/a.jar", {"lib/a.jar"}},
      {"lib/zzz.jar", {}},
  };
  for (const Case& c : cases) {
    StringList out;
    findMatches(os, c.pattern, out);
    EXPECT_EQ(out, c.matches) << c.pattern;
  }
}

TEST_F(ExpandTest, PathListsCarryTheirOwnSeparators) {
  os.withDir("C:\\apps\\lib")
      .withFile("C:\\apps\\lib\\one.jar")
      .withFile("C:\\apps\\lib\\two.jar")
      .withFile("C:\\apps\\main.jar");
  const std::string sep(1, kPathListSeparator);
  std::string out;
  expandPathList(ctx, os, out, ";main.jar;;${APPLICATION_HOME}lib\\*.jar;missing.jar;C:\\x;");
  EXPECT_EQ(out, sep + "C:\\apps\\main.jar" + sep + "C:\\apps\\lib\\one.jar" + sep +
                     "C:\\apps\\lib\\two.jar" + sep + "C:\\apps\\missing.jar" + sep + "C:\\x");
  std::string none;
  expandPathList(ctx, os, none, ";;");
  expandPathList(ctx, os, none, "C:\\apps\\lib\\*.zip");
  EXPECT_EQ(none, "");
}

TEST_F(ExpandTest, LookupExpandedValuesPicksTheHandler) {
  ctx.configText = "property a=$PATH\r\nproperty b\r\n";
  StringList list;
  lookupExpandedValues(ctx, os, "property", list, false);
  EXPECT_EQ(list, (StringList{"a=/bin", "b"}));
}

}  // namespace
}  // namespace qlx
