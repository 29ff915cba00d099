// The generator's configuration check: what is an error, what a warning,
// which line it names, and how shown text is made harmless to a terminal.
#include "tools/qlxwrap/config_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qlx::wrap {
namespace {

// One finding as "E3 text" / "W0 text" for compact expectations.
std::vector<std::string> summary(const std::string& text, ConfigRole role) {
  std::vector<std::string> out;
  for (const ConfigFinding& f : checkConfig(text, role))
    out.push_back((f.error ? "E" : "W") + std::to_string(f.line) + " " + f.message);
  return out;
}

struct CheckCase {
  const char* text;
  ConfigRole role;
  std::vector<std::string> expected;  // prefixes of the findings, in order
};

TEST(ConfigCheckTest, FindingsNameTheLineAndWhatIsWrong) {
  const ConfigRole E = ConfigRole::Embedded, X = ConfigRole::External;
  const std::vector<CheckCase> cases = {
      // Fixed forms that the launcher reads; case and '=' as it allows.
      {"mainclass a.B\nMinJre 1.8.0_392\nmaxjre=21\njre_order CBSiev\nsingleinstance Handover\n"
       "wildcard all\nmainargv sc  \ndisableexternal TRUE\nstoptimeout 45\n"
       "instancefilter com.example.**;java.util.*;!*;maxdepth=20\nclassdata off\n",
       E, {}},
      {"", E, {"E0 no mainclass"}},
      {"mainclass\n", E, {"E0 no mainclass"}},
      {"mainclass x.Y\n", X, {"W1 mainclass is only read from the embedded"}},
      {"option -Xmx64m\n", X, {}},
      {"mainclass a.B\nminjre one.eight\n", E, {"E2 minjre 'one.eight' cannot be read"}},
      {"mainclass a.B\nmaxjre 1.8.\n", E, {"E2 maxjre '1.8.' cannot be read"}},
      {"mainclass a.B\nminjre 1.2.3.4.5\n", E, {"E2 minjre"}},
      {"mainclass a.B\njre_order cbx\n", E, {"E2 jre_order 'cbx' cannot be read"}},
      {"mainclass a.B\nsingleinstance yes\n", E, {"E2 singleinstance 'yes'"}},
      // The launcher compares the whole rest of the line: a trailing blank is wrong.
      {"mainclass a.B\nsingleinstance true \n", E, {"E2 singleinstance 'true '"}},
      {"mainclass a.B\nwildcard on\n", E, {"E2 wildcard 'on'"}},
      {"mainclass a.B\nmainargv cc\n", E, {"E2 mainargv 'cc'"}},
      {"mainclass a.B\nstoptimeout 0\nstoptimeout 5\n", E,
       {"E2 stoptimeout '0'", "W3 stoptimeout is set again: only line 2 counts"}},
      {"mainclass a.B\nstoptimeout 20s\n", E, {"E2 stoptimeout '20s'"}},
      {"mainclass a.B\nstoptimeout 3601\n", E, {"E2 stoptimeout '3601'"}},
      {"mainclass a.B\ninstancefilter com.*.x\n", E, {"E2 instancefilter 'com.*.x'"}},
      // What the receiver refuses, the check refuses (the grammar's own table
      // is in the instances test).
      {"mainclass a.B\ninstancefilter srv**;!*\n", E, {"E2 instancefilter 'srv**;!*'"}},
      {"mainclass a.B\ninstancefilter **\n", E, {"E2 instancefilter '**'"}},
      {"mainclass a.B\ninstancefilter maxdepth=5\n", E, {"E2 instancefilter 'maxdepth=5'"}},
      {"mainclass a.B\nlogrotate 10M,daily\nlogkeep 3\nlogmaxage 2w\n", E, {}},
      {"mainclass a.B\nlogrotate weekly\nlogkeep -1\nlogmaxage soon\n", E,
       {"E2 logrotate 'weekly'", "E3 logkeep '-1'", "E4 logmaxage 'soon'"}},
      {"mainclass a.B\ninstancefilter maxdeep=3\n", E, {"E2 instancefilter"}},
      {"mainclass a.B\ninstancefilter ;;\n", E, {"E2 instancefilter"}},
      // An empty value is the default, whatever the key's form.
      {"mainclass a.B\nminjre\nwildcard =\n", E, {}},
      // Unknown keys are warnings naming the nearest key; comments are not keys.
      {"mainclass a.B\noptoin -Xmx64m\n# a comment\n; another\n", E,
       {"W2 unknown key 'optoin' is ignored (nearest known key: 'option')"}},
      {"mainclass a.B\r\n  Singleinstanse true\r\n", E, {"W2 unknown key 'Singleinstanse'"}},
      // One option line is one VM option as written: quotes reach the VM.
      {"mainclass a.B\noption \"-Dheart.title=/opt/My Heart\"\noption -Dx=\"a b\"\n"
       "options \"-Dy=a b\"\noption -Dz=a b\n",
       E,
       {"W2 option '\"-Dheart.title=/opt/My Heart\"' reaches the VM as written, quotes "
        "included: each option line is one VM option taken as it stands, blanks too; write "
        "option -Dheart.title=/opt/My Heart",
        "W3 option '-Dx=\"a b\"' reaches the VM as written"}},
      // Keys of many values may repeat; one-valued keys warn from the second line.
      {"mainclass a.B\noption -Da\noption -Db\noptions -Dc -Dd\nmainclass c.D\n", E,
       {"W5 mainclass is set again: only line 1 counts"}},
  };
  for (const CheckCase& c : cases) {
    const std::vector<std::string> got = summary(c.text, c.role);
    ASSERT_EQ(got.size(), c.expected.size()) << c.text << "\n" << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(got[i].compare(0, c.expected[i].size(), c.expected[i]), 0)
          << c.text << "\n  got: " << got[i] << "\n  want: " << c.expected[i];
  }
}

TEST(ConfigCheckTest, NearestKeyForCommonSlips) {
  const std::pair<const char*, const char*> cases[] = {
      {"optoin", "option"},     {"MAINCLAS", "mainclass"}, {"minjava", "minjre"},
      {"jreorder", "jre_order"}, {"propery", "property"},  {"classpth", "classpath"},
      {"singleinstanse", "singleinstance"},
  };
  for (const auto& [word, key] : cases) EXPECT_EQ(nearestKey(word), key) << word;
}

TEST(ConfigCheckTest, KeyTableHasEachKeyOnceAndEveryFormIsWorded) {
  std::vector<std::string> names;
  for (const ConfigKey& k : configKeys()) {
    for (const std::string& seen : names) EXPECT_NE(seen, k.name);
    names.push_back(k.name);
    EXPECT_EQ(k.form != nullptr, k.valid != nullptr) << k.name;
  }
}

TEST(ConfigCheckTest, EveryFindingHasOneTextAndAName) {
  std::vector<std::string> names;
  for (int i = 0; i <= static_cast<int>(Finding::ConfigBesideOutput); ++i) {
    const FindingText& t = findingText(static_cast<Finding>(i));
    EXPECT_EQ(static_cast<int>(t.id), i);
    for (const std::string& seen : names) EXPECT_NE(seen, t.name);
    names.push_back(t.name);
  }
  EXPECT_EQ(findingMessage(Finding::SetAgain, {"minjre", "3"}),
            "minjre is set again: only line 3 counts");
}

TEST(ConfigCheckTest, FirstValueReadsLikeTheLauncher) {
  const std::pair<const char*, const char*> cases[] = {
      {"MainClass = a.B\nmainclass c.D\n", "a.B"},
      {"  mainclass\r\nmainclass c.D", ""},
      {"mainclasses x\n# mainclass y\nmainclass=z ", "z "},
      {"option -Dx\n", ""},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(firstValue(text, "mainclass"), value) << text;
}

TEST(ConfigCheckTest, PrintableEscapesWhatATerminalWouldActOn) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain text, C:\\path", "plain text, C:\\path"},
      {"\x1b]0;title\x07\x1b[2J", "\\x1B]0;title\\x07\\x1B[2J"},
      {"a\rdigest: intact\n", "a\\x0Ddigest: intact\\x0A"},
      {"\x7f", "\\x7F"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},      // é and € stay
      {"\xc2\x9b" "2J", "\\u009B2J"},                                 // C1 CSI
      {"abc\xe2\x80\xae" "cba", "abc\\u202Ecba"},                     // direction override
      {"\xff\xc3", "\\xFF\\xC3"},                                     // not UTF-8
      {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},                            // overlong
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},                       // emoji stays
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(printable(in), out);
}

}  // namespace
}  // namespace qlx::wrap
