// UTF-8 / UTF-16 / narrow conversions and the case-insensitive helpers.
#include <gtest/gtest.h>

#include "launcher/text.h"

namespace qlx {
namespace {

TEST(TextTest, AppendUnitAsUtf8UsesOneTwoOrThreeBytes) {
  struct Case {
    char16_t unit;
    std::string bytes;
  } cases[] = {
      {u'A', "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0xE9, "\xC3\xA9"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xD83D, "\xED\xA0\xBD"},  // surrogate halves are encoded one by one
      {0xFFFF, "\xEF\xBF\xBF"},
  };
  for (const Case& c : cases) {
    std::string out;
    appendUnitAsUtf8(out, c.unit);
    EXPECT_EQ(out, c.bytes) << int(c.unit);
  }
}

TEST(TextTest, Utf16ToUtf8StopsAtCountOrZeroUnit) {
  const char16_t units[] = {u'a', 0xE9, 0, u'b'};
  EXPECT_EQ(utf16ToUtf8(units, 4), "a\xC3\xA9");
  EXPECT_EQ(utf16ToUtf8(units, 1), "a");
  EXPECT_EQ(utf16ToUtf8(units, 0), "");
}

TEST(TextTest, LenientDecoderFollowsTheConfigurationRules) {
  struct Case {
    const char* name;
    std::string in;
    std::u16string out;
  } cases[] = {
      {"ascii", "abc", u"abc"},
      {"two bytes", "\xC3\xA9", u"\u00E9"},
      {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
      {"cut short two", "a\xC3", u"a"},
      {"cut short three", "a\xE2\x82", u"a"},
      {"missing continuation", "\xC3" "A", u"?A"},
      {"missing second continuation", "\xE2\x82" "AB", u"?AB"},
      {"stray continuation", "\x80" "a", u"?a"},
      {"four byte lead", "\xF0\x9F\x98\x80", u"????"},
      {"byte FF", "\xFF", u"?"},
      {"overlong accepted", "\xC0\x80", std::u16string(1, char16_t(0))},
      {"cut short in middle keeps nothing after", "x\xE2\x82", u"x"},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeUtf8Lenient(c.in), c.out) << c.name;
}

TEST(TextTest, AsciiPassesThroughNarrowConversionsUnchanged) {
  EXPECT_EQ(utf8ToNarrow("plain text ~!"), "plain text ~!");
  EXPECT_EQ(narrowToUtf8("plain text ~!"), "plain text ~!");
}

TEST(TextTest, NarrowInUtf8LocaleRoundTrips) {
  // Under a UTF-8 C locale the narrow character set is UTF-8 itself.
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(utf8ToNarrow("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(narrowToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(utf8ToNarrow("\xE2\x82"), "");  // cut short: dropped
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(TextTest, UnrepresentableCharactersBecomeQuestionMarks) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(utf16ToNarrow(u"a\u20ACb"), "a?b");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(TextTest, CaseInsensitiveHelpers) {
  EXPECT_TRUE(equalsIgnoreCase("MainClass", "mainclass"));
  EXPECT_FALSE(equalsIgnoreCase("mainclass", "mainclas"));
  EXPECT_TRUE(startsWithIgnoreCase("APPID=x", "appid"));
  EXPECT_FALSE(startsWithIgnoreCase("app", "appid"));
  EXPECT_TRUE(startsWithIgnoreCase("anything", ""));
  EXPECT_TRUE(endsWithSeparator("a/"));
  EXPECT_TRUE(endsWithSeparator("a\\"));
  EXPECT_FALSE(endsWithSeparator(""));
  EXPECT_FALSE(endsWithSeparator("a"));
}

TEST(TextTest, DecimalTextCoversTheWholeRange) {
  const struct {
    int64_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {7, "7"},
               {-1, "-1"},
               {4294967295LL, "4294967295"},
               {INT64_MAX, "9223372036854775807"},
               {INT64_MIN, "-9223372036854775808"}};
  for (const auto& c : cases) EXPECT_EQ(decimalText(c.value), c.text);
}

}  // namespace
}  // namespace qlx
