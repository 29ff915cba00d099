// The command-line tokenizer, wildcard marks, the argument rebuild and the
// joiner that must read back through the tokenizer unchanged.
#include <gtest/gtest.h>

#include <random>

#include "launcher/arguments.h"

namespace qlx {
namespace {

TEST(SplitArgumentsTest, WindowsRules) {
  struct Case {
    std::string text;
    StringList args;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  a  ", {"a"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"a\" \"b", {"a b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"-a \"b c\" d\\\"e", {"-a", "b c", "d\"e"}},
      {"\\\\\"a b\"", {"\\a b"}},      // 2 backslashes + quote: one backslash, toggle
      {"\\\\\\\"a", {"\\\"a"}},        // 3 backslashes + quote: one backslash, literal quote
      {"a\\\\b", {"a\\\\b"}},          // not before a quote: literal
      {"C:\\dir\\", {"C:\\dir\\"}},
      {"\"C:\\My Files\\\\\"", {"C:\\My Files\\"}},
      {"\"unterminated quote", {"unterminated quote"}},
      {"a\"b\"c", {"abc"}},
      {"\"a\"\"b\"", {"ab"}},
      {"\\\"", {"\""}},
      {"\\", {"\\"}},
  };
  for (const Case& c : cases) {
    StringList list;
    EXPECT_EQ(splitArguments(c.text, list), c.args.size()) << c.text;
    EXPECT_EQ(list, c.args) << c.text;
  }
}

TEST(SplitArgumentsTest, AppendsToTheList) {
  StringList list{"first"};
  EXPECT_EQ(splitArguments("x y", list), 3u);
  EXPECT_EQ(list, (StringList{"first", "x", "y"}));
}

TEST(SplitArgumentsTest, WildcardMarks) {
  struct Case {
    std::string text;
    std::vector<int32_t> marks;
  } cases[] = {
      {"a *.txt \"*.txt\" b?", {0, 1, -1, 1}},
      {"\"*\"?", {-1}},    // quoted then unquoted: stays quoted
      {"?\"*\"", {-1}},    // unquoted then quoted: becomes quoted
      {"\\\"*", {1}},
      {"\"\" x", {0, 0}},
  };
  for (const Case& c : cases) {
    StringList list;
    std::vector<int32_t> marks;
    splitArguments(c.text, list, &marks);
    EXPECT_EQ(marks, c.marks) << c.text;
  }
  StringList list{"old"};
  std::vector<int32_t> marks;
  splitArguments("*", list, &marks);
  EXPECT_EQ(marks, (std::vector<int32_t>{0, 1}));  // padded to the list
}

TEST(WildcardModeTest, Values) {
  EXPECT_EQ(wildcardMode("true"), 1);
  EXPECT_EQ(wildcardMode("TRUE"), 1);
  EXPECT_EQ(wildcardMode("auto"), 1);
  EXPECT_EQ(wildcardMode("All"), 2);
  EXPECT_EQ(wildcardMode(""), 0);
  EXPECT_EQ(wildcardMode("yes"), 0);
  EXPECT_EQ(wildcardMode("true "), 0);
}

TEST(RebuildArgumentsTest, Modes) {
  auto matcher = [](const std::string& pattern, StringList& out) {
    if (pattern == "*.txt") out.insert(out.end(), {"a.txt", "b.txt"});
    if (pattern == "x*y?") out.push_back("xay1");
  };
  const std::string raw = "prog.exe *.txt \"*.txt\" none* x*\"y?\" plain";
  struct Case {
    int mode;
    StringList out;
  } cases[] = {
      {0, {"prog.exe", "*.txt", "*.txt", "none*", "x*y?", "plain"}},
      {1, {"prog.exe", "a.txt", "b.txt", "*.txt", "none*", "x*y?", "plain"}},
      {2, {"prog.exe", "a.txt", "b.txt", "a.txt", "b.txt", "none*", "xay1", "plain"}},
  };
  for (const Case& c : cases) EXPECT_EQ(rebuildArguments(c.mode, raw, matcher), c.out) << c.mode;
  EXPECT_EQ(rebuildArguments(1, "\"C:\\Program Files\\a.exe\" x", matcher),
            (StringList{"C:\\Program Files\\a.exe", "x"}));
  EXPECT_EQ(rebuildArguments(1, "", matcher), StringList{});
}

TEST(JoinArgumentsTest, Quoting) {
  struct Case {
    StringList args;
    std::string text;
  } cases[] = {
      {{}, ""},
      {{"a", "b"}, "a b"},
      {{""}, "\"\""},
      {{"C:\\My Files\\x"}, "\"C:\\My Files\\x\""},
      {{"C:\\My Files\\"}, "\"C:\\My Files\\\\\""},
      {{"a\"b"}, "\"a\\\"b\""},
      {{"a\\\"b"}, "\"a\\\\\\\"b\""},
      {{"*.txt"}, "\"*.txt\""},
      {{"a?"}, "\"a?\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"C:\\dir\\"}, "C:\\dir\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(joinArguments(c.args), c.text);
}

TEST(JoinArgumentsTest, RoundTripsThroughSplitArguments) {
  std::mt19937 random(12345);
  const char alphabet[] = {'a', 'b', ' ', '\t', '"', '\\', '*', '?', ':', '/', '-', '\xE9'};
  for (int round = 0; round < 5000; ++round) {
    StringList args;
    const int count = random() % 5;
    for (int i = 0; i < count; ++i) {
      std::string arg;
      const int length = random() % 8;
      for (int k = 0; k < length; ++k) arg.push_back(alphabet[random() % sizeof alphabet]);
      args.push_back(arg);
    }
    const std::string joined = joinArguments(args);
    StringList back;
    std::vector<int32_t> marks;
    splitArguments(joined, back, &marks);
    ASSERT_EQ(back, args) << "joined: [" << joined << "]";
    // Quoting also keeps every wildcard away from an unquoted expansion.
    for (size_t i = 0; i < marks.size(); ++i) EXPECT_NE(marks[i], kMarkUnquoted) << joined;
  }
}

}  // namespace
}  // namespace qlx
