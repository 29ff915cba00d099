// Configuration text: line ends, key boundaries, '=' handling, scope, the
// external part overriding the embedded block, byte order marks.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "launcher/config.h"
#include "launcher/launcher_context.h"
#include "launcher/startup.h"
#include "tests/unit/fake_os.h"

namespace qlx {
namespace {

LauncherContext contextWith(const std::string& external, const std::string& embedded) {
  LauncherContext c;
  c.configText = external.empty() ? "" : external + "\r\n";
  c.externalLength = c.configText.size();
  c.configText += embedded;
  return c;
}

TEST(ConfigTest, KeyBoundariesAndValues) {
  struct Case {
    std::string text;
    std::string key;
    std::string value;
  } cases[] = {
      {"appid x", "appid", "x"},
      {"APPID=x", "appid", "x"},
      {"appid = x", "appid", "x"},
      {"appid  =  x", "appid", "x"},
      {"appid==x", "appid", "=x"},  // only one '=' is dropped
      {"appid", "appid", ""},
      {"appid-x", "appid", "-x"},
      {"appidx 1\r\nappid 2", "appid", "2"},
      {"appid_x 1\r\nappid 2", "appid", "2"},
      {"appid9 1\r\nappid 2", "appid", "2"},
      {"appid\tx", "appid", "\tx"},  // a tab is an ordinary character
      {"appid x  \t", "appid", "x  \t"},  // trailing characters stay
      {"   appid x", "appid", "x"},
      {"\tappid x", "appid", ""},  // leading tab: not the key
      {"#appid x", "appid", ""},
      {"; appid x", "appid", ""},
      {"MainClass com.example.App", "mainclass", "com.example.App"},
      {"appid\r\nappid x", "appid", ""},  // the first line wins even when empty
      {"option=-Xmx512m", "option", "-Xmx512m"},
      {"options -Xmx512m", "option", ""},
      {"", "appid", ""},
      {"appid x", "", ""},
      {std::string("appid a\0appid b", 15), "appid", "a"},
      {std::string("x\0appid b", 9), "appid", ""},  // the text ends at its first NUL
  };
  for (const Case& c : cases) {
    LauncherContext ctx = contextWith("", c.text);
    EXPECT_EQ(lookupValue(ctx, c.key, false, false), c.value) << c.text;
  }
}

TEST(ConfigTest, AllLineEndFormsAreOneLineEnd) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"CR LF", "a 1\r\nb 2\r\na 3\r\n"},
      {"LF", "a 1\nb 2\na 3\n"},
      {"CR", "a 1\rb 2\ra 3\r"},
      {"LF CR", "a 1\n\rb 2\n\ra 3\n\r"},
      {"mixed", "a 1\rb 2\n\ra 3"},
      {"empty lines", "\r\n\r\na 1\r\r\n\nb 2\n\n\na 3"},
  };
  for (const Case& c : cases) {
    LauncherContext ctx = contextWith("", c.text);
    std::vector<std::string> values;
    lookupValues(ctx, "a", [&](const std::string& v) { values.push_back(v); }, false, false);
    EXPECT_EQ(values, (std::vector<std::string>{"1", "3"})) << c.name;
    EXPECT_EQ(lookupValue(ctx, "b", false, false), "2") << c.name;
  }
}

TEST(ConfigTest, ExternalPartOverridesAndPrecedes) {
  LauncherContext ctx = contextWith("minjre 1.8\r\noption -Xmx1g\r\nmainclass x.Y\r\nstdout out.txt",
                                    "minjre 1.6\r\noption -Xms1m\r\noption -Dq=1\r\nmainclass "
                                    "a.B\r\nstdout embedded.txt\r\n");
  EXPECT_EQ(minJreValue(ctx), "1.8");
  std::vector<std::string> options;
  lookupValues(ctx, "option", [&](const std::string& v) { options.push_back(v); }, false, true);
  EXPECT_EQ(options, (std::vector<std::string>{"-Xmx1g", "-Xms1m", "-Dq=1"}));
  // mainclass is read from the embedded block only.
  EXPECT_EQ(mainClassValue(ctx), "a.B");
  testing::FakeOs os;
  EXPECT_EQ(stdoutValue(ctx, os), "out.txt");
  std::vector<std::string> embeddedOptions;
  lookupValues(ctx, "option", [&](const std::string& v) { embeddedOptions.push_back(v); }, true,
               true);
  EXPECT_EQ(embeddedOptions, (std::vector<std::string>{"-Xms1m", "-Dq=1"}));
}

TEST(ConfigTest, AnExternalFileThatRepeatsTheEmbeddedTextIsRecognised) {
  // The embedded block as the generator writes it: CR LF lines.
  const std::string embedded = "mainclass a.B\r\noption -Xmx64m\r\nargv one\r\n";
  const std::pair<std::string, bool> cases[] = {
      {"mainclass a.B\noption -Xmx64m\nargv one\n", true},      // the source file, LF lines
      {"option -Xmx64m\n\n  argv one", true},                  // mainclass is never read there
      {"disableexternal false\noption -Xmx64m\r\rargv one\r", true},
      {"option -Xmx64m\nargv one\nargv two\n", false},          // one more line
      {"argv one\noption -Xmx64m\n", false},                    // another order
      {"option -Xmx64m \nargv one\n", false},                   // a trailing blank is a value
      {"", false},
  };
  for (const auto& [external, same] : cases) {
    EXPECT_EQ(sameConfiguration(external, embedded), same) << external;
    EXPECT_EQ(sameConfiguration(embedded, external), same) << external;
  }
  EXPECT_TRUE(sameConfiguration("", "mainclass a.B\r\n"));
}

TEST(ConfigTest, ExternalLengthBeyondTheTextIsSafe) {
  LauncherContext ctx = contextWith("", "appid x");
  ctx.externalLength = 1000;
  EXPECT_EQ(lookupValue(ctx, "appid", true, true), "");
}

TEST(ConfigTest, KeysReadTogetherKeepTheOrderOfTheirLines) {
  // External lines first, then embedded; each line goes to the key it belongs to.
  LauncherContext ctx = contextWith("options -Dx", "option -Da\r\noptions=-Db -Dc\r\n"
                                                   "optionsx 1\r\nOPTION -Dd\r\noption_ 2");
  std::vector<std::string> seen;
  lookupValuesOfKeys(
      ctx, {"option", "options"},
      [&](size_t key, const std::string& value) { seen.push_back(std::to_string(key) + value); },
      false, true);
  EXPECT_EQ(seen, (std::vector<std::string>{"1-Dx", "0-Da", "1-Db -Dc", "0-Dd"}));
}

TEST(ConfigTest, ToNarrowConvertsOnlyWhenAsked) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  LauncherContext ctx = contextWith("", "property a=caf\xC3\xA9\r\nargv x\xE2\x82");
  EXPECT_EQ(lookupValue(ctx, "property", false, false), "a=caf\xC3\xA9");
  EXPECT_EQ(lookupValue(ctx, "property", false, true), "a=caf?");  // not in the C code page
  EXPECT_EQ(lookupValue(ctx, "argv", false, true), "x");  // cut-short sequence dropped
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(ConfigTest, AccessorsUseTheirScopeAndExpansion) {
  LauncherContext ctx = contextWith("appid ext\r\nwildcard all\r\nsingleinstance true\r\nmainargv "
                                    "sc\r\nmaxjre 17\r\nforcecwd %DIR%\\x",
                                    "appid emb\r\nstderr $DIR/err.log\r\nargv a \"b c\"\r\nargv "
                                    "$DIR\r\nmainclass M");
  testing::FakeOs os;
  os.withEnv("DIR", "/d");
  EXPECT_EQ(appidValue(ctx), "ext");
  EXPECT_EQ(wildcardValue(ctx), "all");
  EXPECT_EQ(singleInstanceValue(ctx), "true");
  EXPECT_EQ(mainArgvValue(ctx), "sc");
  EXPECT_EQ(maxJreValue(ctx), "17");
  EXPECT_EQ(minJreValue(ctx), "");
  EXPECT_EQ(forceCwdValue(ctx, os), "/d\\x");
  EXPECT_EQ(stderrValue(ctx, os), "/d/err.log");
  StringList argv;
  argvValues(ctx, argv, os);
  EXPECT_EQ(argv, (StringList{"a \"b c\"", "/d"}));
  EXPECT_EQ(mainClassValue(ctx), "M");
}

TEST(ConfigurationTextTest, ByteOrderMarks) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"utf-8 mark", "\xEF\xBB\xBFmainclass a.B\r\n", "mainclass a.B\r\n"},
      {"utf-8 mark keeps bytes", "\xEF\xBB\xBF\xC3\xA9", "\xC3\xA9"},
      {"utf-8 stops at NUL", std::string("\xEF\xBB\xBF" "a\0b", 6), "a"},
      {"utf-16 le", std::string("\xFF\xFEm\0a\0i\0n\0 \0a\0.\0B\0", 18), "main a.B"},
      {"utf-16 le non-ascii", std::string("\xFF\xFE\xE9\0\xAC\x20", 6), "\xC3\xA9\xE2\x82\xAC"},
      {"utf-16 le stops at zero unit", std::string("\xFF\xFE" "a\0\0\0b\0", 8), "a"},
      {"utf-16 le odd length", std::string("\xFF\xFE" "a\0b", 5), "a"},
      {"utf-16 be", std::string("\xFE\xFF\0m\0a\0i\0n", 10), "main"},
      {"utf-16 surrogates one by one", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6),
       "\xED\xA0\xBD\xED\xB8\x80"},
      {"no mark ascii", "appid x", "appid x"},
      {"no mark stops at NUL", std::string("ab\0cd", 5), "ab"},
      {"cut mark", "\xEF\xBB", "??"},  // shorter than its mark: narrow text
      {"lone FF", "\xFF", "?"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    std::string out = "prefix:";
    appendConfigurationText(out, reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(out, "prefix:" + c.text) << c.name;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(ConfigurationTextTest, NarrowBlockInUtf8LocaleIsStoredAsUtf8) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  std::string out;
  const std::string bytes = "appid caf\xC3\xA9";
  appendConfigurationText(out, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(out, bytes);
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(ConfigurationTextTest, Utf16BlockGivesTheSameLookups) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("mainclass a.B\r\nappid x\r\n")) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  LauncherContext ctx;
  appendConfigurationText(ctx.configText, reinterpret_cast<const uint8_t*>(utf16.data()),
                          utf16.size());
  EXPECT_EQ(mainClassValue(ctx), "a.B");
  EXPECT_EQ(appidValue(ctx), "x");
}

TEST(ExternalConfigTest, CandidatesInOrder) {
  struct Case {
    std::string path;
    std::string c[4];
  } cases[] = {
      {"C:\\apps\\tool.exe",
       {"C:\\apps\\tool.exe.cfg", "C:\\apps\\tool.exe.config", "C:\\apps\\tool.cfg",
        "C:\\apps\\tool.config"}},
      {"/opt/app/tool", {"/opt/app/tool.cfg", "/opt/app/tool.config", "/opt/app/tool.cfg",
                         "/opt/app/tool.config"}},
      {"C:\\my.dir\\tool", {"C:\\my.dir\\tool.cfg", "C:\\my.dir\\tool.config",
                            "C:\\my.dir\\tool.cfg", "C:\\my.dir\\tool.config"}},
      {"a.b.exe", {"a.b.exe.cfg", "a.b.exe.config", "a.b.cfg", "a.b.config"}},
      {"", {".cfg", ".config", ".cfg", ".config"}},
  };
  for (const Case& c : cases) {
    std::string out[4];
    externalConfigCandidates(c.path, out);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], c.c[i]) << c.path << " #" << i;
  }
}

TEST(ExternalConfigTest, HomeOf) {
  EXPECT_EQ(homeOf("C:\\apps\\tool.exe"), "C:\\apps\\");
  EXPECT_EQ(homeOf("/opt/app/tool"), "/opt/app/");
  EXPECT_EQ(homeOf("C:/a\\b/c.exe"), "C:/a\\b/");
  EXPECT_EQ(homeOf("tool.exe"), "");
  EXPECT_EQ(homeOf(""), "");
}

// Code page 932: lead bytes 81-9F and E0-FC; the trail byte may be 5C.
bool isLead932(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || byte >= 0xE0; }

TEST(DoubleBytePaths, SplitOnlyAtRealSeparators) {
  const std::string app = "C:\\\x83\x41\x83\x76\x83\x8A\\";  // C:\アプリ\ in code page 932
  const std::string table = "\x95\x5C";                         // 表: its trail byte is a '\'
  EXPECT_EQ(homeOf(app + table + ".exe", isLead932), app);
  std::string out[4];
  externalConfigCandidates(app + "a." + table, out, isLead932);  // the extension is ".表"
  EXPECT_EQ(out[2], app + "a.cfg");
  EXPECT_EQ(out[3], app + "a.config");
  // A home that ends in 表 still needs its separator; one in アプリ\ has it.
  EXPECT_EQ(workingDirectoryCandidate(app + table, "jre", isLead932), app + table + "/jre");
  EXPECT_EQ(workingDirectoryCandidate(app, "jre", isLead932), app + "jre");
}

}  // namespace
}  // namespace qlx
