// Message overrides, the escape rules, placeholder filling with hostile
// texts, and the built-in string table against the Windows resource file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "launcher/messages.h"
#include "tests/unit/fake_os.h"

namespace qlx {
namespace {

TEST(MessagesTest, Unescape) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"Line one\\nLine two", "Line one\nLine two"},
      {"Tab\\there", "Tab\there"},
      {"a\\rb", "a\rb"},
      {"C:\\\\Temp", "C:\\Temp"},
      {"\\q\\\"", "q\""},
      {"ends\\", "ends"},
      {"\\", ""},
      {"\\\\\\", "\\"},
      {"\\N", "N"},
      {"${HKCU\\Software\\K\\V}\\t%{A\\B}%\\\\", "${HKCU\\Software\\K\\V}\t%{A\\B}%\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(unescapeMessage(c.in), c.out) << c.in;
}

TEST(MessagesTest, FillPlaceholdersNeverInterpretsOtherDirectives) {
  struct Case {
    std::string format;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"Java virtual machine version %s is too low, require %s or higher.",
       {"1.5.0_22", "1.6"},
       "Java virtual machine version 1.5.0_22 is too low, require 1.6 or higher."},
      {"version %s is too high, version between %s and %s is required.",
       {"1.7.0", "", "1.6"},
       "version 1.7.0 is too high, version between  and 1.6 is required."},
      {"%n%n%s%s%s", {"svc"}, "%n%nsvc"},
      {"%d %x %p %1$s %.99999s", {"a"}, "%d %x %p %1$s %.99999s"},
      {"100%% sure %s", {"x"}, "100% sure x"},
      {"%s%s%s", {}, ""},
      {"trailing %", {}, "trailing %"},
      {"%s", {"%s%n"}, "%s%n"},  // arguments are inserted, never scanned
  };
  for (const Case& c : cases) {
    std::string out;
    switch (c.args.size()) {
      case 0: out = fillPlaceholders(c.format, {}); break;
      case 1: out = fillPlaceholders(c.format, {c.args[0]}); break;
      case 2: out = fillPlaceholders(c.format, {c.args[0], c.args[1]}); break;
      default: out = fillPlaceholders(c.format, {c.args[0], c.args[1], c.args[2]}); break;
    }
    EXPECT_EQ(out, c.out) << c.format;
  }
}

TEST(MessagesTest, FillPlaceholdersIsBounded) {
  const std::string huge(5000, 'v');
  EXPECT_EQ(fillPlaceholders("%s%s", {huge, huge}).size(), kMaxFormattedMessage);
  EXPECT_EQ(fillPlaceholders(std::string(4000, 'f'), {}).size(), kMaxFormattedMessage);
  EXPECT_EQ(fillPlaceholders("ab%s", {"cdef"}, 4), "abcd");
}

TEST(MessageOverridesTest, FirstLineWinsAndBadIdsAreIgnored) {
  LauncherContext ctx;
  ctx.configText =
      "message 13=Already running.\r\n"
      "message 13=Second one\r\n"
      "message 1024=Line one\\nLine two\r\n"
      "message 257=Tab\\there\r\n"
      "message 258=C:\\\\Temp\r\n"
      "message 256=%COMPUTERNAME% service\r\n"
      "message 0=zero\r\n"
      "message -5=negative\r\n"
      "message 0x10=hex\r\n"
      "message no equals sign\r\n"
      "message   +7 =plus sign and blanks\r\n"
      "message 6=Need Java %s or newer (found %s).\r\n"
      "message 99999999999999=huge\r\n"
      "message 3=\r\n"
      "message 4=a=b\r\n"
      "message 259=Data in %APPDATA%\\t, \\%APPDATA\\%\r\n";
  testing::FakeOs os;
  os.withEnv("COMPUTERNAME", "HOST1").withEnv("APPDATA", "C:\\temp\\new");
  MessageOverrides overrides;
  overrides.build(ctx, os);
  struct Case {
    int id;
    const char* text;  // null: no override
  } cases[] = {
      {13, "Already running."},
      {1024, "Line one\nLine two"},
      {257, "Tab\there"},
      {258, "C:\\Temp"},
      {256, "HOST1 service"},
      {0, nullptr},
      {16, nullptr},
      {7, "plus sign and blanks"},
      {6, "Need Java %s or newer (found %s)."},
      {2147483647, "huge"},
      {3, ""},
      {4, "a=b"},
      // Inserted values arrive as they are; escapes apply to the text as written.
      {259, "Data in C:\\temp\\new\t, C:\\temp\\new"},
      {1, nullptr},
  };
  for (const Case& c : cases) {
    const std::string* text = overrides.find(c.id);
    if (c.text == nullptr) {
      EXPECT_EQ(text, nullptr) << c.id;
    } else {
      ASSERT_NE(text, nullptr) << c.id;
      EXPECT_EQ(*text, c.text) << c.id;
    }
  }
}

TEST(MessageOverridesTest, ExternalFileWinsOverEmbedded) {
  LauncherContext ctx;
  ctx.configText = "message 13=external\r\n";
  ctx.externalLength = ctx.configText.size();
  ctx.configText += "message 13=embedded\r\n";
  testing::FakeOs os;
  MessageOverrides overrides;
  overrides.build(ctx, os);
  ASSERT_NE(overrides.find(13), nullptr);
  EXPECT_EQ(*overrides.find(13), "external");
}

TEST(StringTableTest, BuiltinTextsOfTheSpecifiedIds) {
  EXPECT_EQ(stringTableText(1), "Java Runtime Environment not found.");
  EXPECT_EQ(stringTableText(13), "There is already an instance of this program running.");
  EXPECT_EQ(stringTableText(1024), "Service type application.\n\nUse /install to install service.");
  EXPECT_EQ(stringTableText(11), "");
  EXPECT_EQ(stringTableText(-1), "");
  EXPECT_EQ(stringTableText(100000), "");
}

// Reads `id "text"` lines of the STRINGTABLE blocks of a resource script.
std::map<int, std::string> parseStringTables(std::istream& in) {
  std::map<int, std::string> table;
  std::string line;
  bool inTable = false;
  bool inBlock = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "STRINGTABLE") inTable = true;
    else if (inTable && first == "BEGIN") inBlock = true;
    else if (inBlock && first == "END") inBlock = inTable = false;
    else if (inBlock && !first.empty() && isdigit(static_cast<unsigned char>(first[0]))) {
      const int id = std::stoi(first);
      const size_t open = line.find('"');
      const size_t close = line.rfind('"');
      // Per-application texts (the service identity) are reserved room
      // that the generator fills; they have no literal text to compare.
      if (open == std::string::npos || open == close) continue;
      std::string text;
      for (size_t i = open + 1; i < close; ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < close) {
          c = line[++i];
          if (c == 'n') c = '\n';
          else if (c == 't') c = '\t';
          else if (c == 'r') c = '\r';
        } else if (c == '"' && i + 1 < close && line[i + 1] == '"') {
          ++i;  // "" is a quote in resource scripts
        }
        text.push_back(c);
      }
      table[id] = text;
    }
  }
  return table;
}

TEST(StringTableTest, LinuxTableMatchesTheWindowsResource) {
  std::ifstream rc(std::string(QLX_SOURCE_DIR) + "/resources/qlx.rc");
  if (!rc) GTEST_SKIP() << "no resources/qlx.rc";
  const auto table = parseStringTables(rc);
  ASSERT_FALSE(table.empty());
  for (const auto& [id, text] : table) EXPECT_EQ(stringTableText(id), text) << "id " << id;
  EXPECT_EQ(table.count(1024), 1u);
  for (int id = 0; id < 4096; ++id) {
    if (!stringTableText(id).empty())
      EXPECT_EQ(table.count(id), 1u) << "id " << id << " is only in the Linux table";
  }
}

}  // namespace
}  // namespace qlx
