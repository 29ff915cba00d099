// The service switch parser: prefix matching in table order, values after
// ':' '=' or in the next argument, flags with a value text, unknown switches.
#include <gtest/gtest.h>

#include <vector>

#include "service/switches.h"

namespace qlx {
namespace {

struct Args {
  explicit Args(std::vector<std::string> a) : strings(std::move(a)) {
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(strings.size()); }
  char** argv() { return pointers.data(); }
  std::vector<std::string> strings;
  std::vector<char*> pointers;
};

struct Step {
  int status;
  std::string name;
  std::string value;
};

std::vector<Step> parseAll(std::vector<std::string> arguments) {
  Args args(std::move(arguments));
  SwitchParser parser(kServiceSwitchTable, args.argc(), args.argv());
  std::vector<Step> steps;
  int index = 0;
  for (int guard = 0; guard < 100; ++guard) {
    SwitchResult r = parser.next(index);
    if (r.status == 0) break;
    steps.push_back({r.status, r.name, r.value});
  }
  return steps;
}

TEST(SwitchParserTest, Table) {
  struct Case {
    std::vector<std::string> args;
    std::vector<Step> steps;
  } cases[] = {
      {{}, {}},
      {{"/install"}, {{-1, "install", ""}}},
      {{"/install", "auto"}, {{1, "install", "auto"}}},
      {{"/install", "/interactive"}, {{-1, "install", ""}, {1, "interactive", ""}}},
      {{"/installauto"}, {{1, "install", "auto"}}},
      {{"/install:auto", "a"}, {{1, "install", "auto"}, {1, "", "a"}}},
      {{"/install=manual"}, {{1, "install", "manual"}}},
      {{"-INSTALL:Auto"}, {{1, "install", "Auto"}}},
      {{"--install"}, {{-1, "-install", ""}}},
      {{"/-install", "x"}, {{1, "-install", "x"}}},
      {{"/inst"}, {{-1, "inst", ""}}},
      {{"/install:"}, {{-1, "install", ""}}},
      {{"/install", "-x"}, {{-1, "install", ""}, {-2, "-x", ""}}},
      {{"/hello"}, {{2, "h", "ello"}}},
      {{"/h"}, {{1, "h", ""}}},
      {{"/?"}, {{1, "?", ""}}},
      {{"/help"}, {{1, "help", ""}}},
      {{"/testing"}, {{2, "test", "ing"}}},
      {{"/test", "a", "b"}, {{1, "test", ""}, {1, "", "a"}, {1, "", "b"}}},
      {{"/uninstall"}, {{1, "uninstall", ""}}},
      {{"/UNINSTALL"}, {{1, "uninstall", ""}}},
      {{"-uninst"}, {{1, "uninst", ""}}},
      {{"--uninstall"}, {{1, "-uninstall", ""}}},
      {{"/interactive:no"}, {{2, "interactive", "no"}}},
      {{"/inter"}, {{1, "inter", ""}}},
      {{"/install:x:y"}, {{1, "install", "x:y"}}},
      {{"/installx:y"}, {{-2, "/installx:y", ""}}},  // with ':' the name must match whole
      {{"/zzz"}, {{-2, "/zzz", ""}}},
      {{"/"}, {{-2, "/", ""}}},
      {{"-"}, {{-2, "-", ""}}},
      {{""}, {{1, "", ""}}},
      {{"plain"}, {{1, "", "plain"}}},
      // The service commands and the install settings.
      {{"/start", "a", "b"}, {{1, "start", ""}, {1, "", "a"}, {1, "", "b"}}},
      {{"/restart"}, {{1, "restart", ""}}},  // not "start" with a text before it
      {{"-STOP"}, {{1, "stop", ""}}},
      {{"/stopped"}, {{2, "stop", "ped"}}},
      {{"/status", "/pause", "/continue"},
       {{1, "status", ""}, {1, "pause", ""}, {1, "continue", ""}}},
      {{"/stat"}, {{-2, "/stat", ""}}},
      {{"/account:NT SERVICE\\x"}, {{1, "account", "NT SERVICE\\x"}}},
      {{"/account", "LocalService"}, {{1, "account", "LocalService"}}},
      {{"/password", "/x"}, {{-1, "password", ""}, {-2, "/x", ""}}},
      {{"/recovery=60/3"}, {{1, "recovery", "60/3"}}},
      {{"/failonexit:no"}, {{2, "failonexit", "no"}}},
      {{"/install", "delayed", "/account:virtual"},
       {{1, "install", "delayed"}, {1, "account", "virtual"}}},
  };
  for (const Case& c : cases) {
    const auto steps = parseAll(c.args);
    std::string label;
    for (auto& a : c.args) label += "[" + a + "]";
    ASSERT_EQ(steps.size(), c.steps.size()) << label;
    for (size_t i = 0; i < steps.size(); ++i) {
      EXPECT_EQ(steps[i].status, c.steps[i].status) << label << " #" << i;
      EXPECT_EQ(steps[i].name, c.steps[i].name) << label << " #" << i;
      EXPECT_EQ(steps[i].value, c.steps[i].value) << label << " #" << i;
    }
  }
}

TEST(SwitchParserTest, FindValueTakesFirstPositiveSwitchOfThatName) {
  Args args({"/install", "/interactive:off", "/interactive:yes", "x"});
  SwitchParser parser(kServiceSwitchTable, args.argc(), args.argv());
  std::string value;
  EXPECT_TRUE(parser.findValue("INTERACTIVE", value));
  EXPECT_EQ(value, "off");
  EXPECT_FALSE(parser.findValue("install", value));  // status -1 is not positive
  EXPECT_FALSE(parser.findValue("test", value));
}

TEST(SwitchParserTest, TableParsingSkipsEmptyEntries) {
  Args args({"/b", "/a", "v"});
  SwitchParser parser("||a:||b|", args.argc(), args.argv());
  int index = 0;
  SwitchResult r = parser.next(index);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.name, "b");
  r = parser.next(index);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.value, "v");
  EXPECT_EQ(parser.next(index).status, 0);
}

TEST(SwitchParserTest, NullVectorAndNegativeCountsEndAtOnce) {
  SwitchParser parser(kServiceSwitchTable, -3, nullptr);
  int index = 0;
  EXPECT_EQ(parser.next(index).status, 0);
}

TEST(IsTrueTest, Table) {
  struct Case {
    const char* text;
    bool value;
  } cases[] = {
      {"", true},      {"yes", true},  {"1", true},      {"true", true},  {"on", true},
      {"off", false},  {"OFF", false}, {"no", false},    {"No", false},   {"false", false},
      {"0", false},    {"0x1", false}, {"nonsense", false}, {"offset", false}, {"x", true},
  };
  for (const Case& c : cases) EXPECT_EQ(isTrue(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace qlx
