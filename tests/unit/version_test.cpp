// Java version parsing and the inclusive minjre/maxjre comparison.
#include <gtest/gtest.h>

#include "vm/version.h"

namespace qlx {
namespace {

TEST(VersionTest, ParsesLikeTheScanfPattern) {
  struct Case {
    std::string text;
    std::vector<int> numbers;
  } cases[] = {
      {"1.6.0_10", {1, 6, 0, 10}},
      {"1.6", {1, 6}},
      {"1.", {1}},
      {"", {}},
      {"x", {}},
      {"x1.6", {}},
      {"17.0.15", {17, 0, 15}},
      {"21", {21}},
      {"1.8.0_392-b08", {1, 8, 0, 392}},
      {" 11.0.2", {11, 0, 2}},  // %d skips leading blanks
      {"-1.5", {-1, 5}},
      {"1.-5", {1, 5}},          // the sign is part of the non-digit run
      {"1 . 6", {1, 6}},
      {"99999999999.1", {2147483647, 1}},  // saturates instead of overflowing
      {std::string("1.6\0.7", 6), {1, 6}},
  };
  for (const Case& c : cases) EXPECT_EQ(parseVersion(c.text), c.numbers) << c.text;
}

TEST(VersionTest, LongNonDigitRunsAreSafe) {
  EXPECT_EQ(parseVersion("1" + std::string(100000, 'x') + "2"), (std::vector<int>{1, 2}));
}

TEST(VersionTest, LimitsAreInclusiveAndCompareCommonPrefix) {
  struct Case {
    const char* version;
    const char* limit;
    bool tooLow;
    bool tooHigh;
  } cases[] = {
      {"1.6.0_01", "1.6", false, false},
      {"1.5.0_22", "1.6", true, false},
      {"1.7.0", "1.6", false, true},
      {"1.6.0_45", "1.6", false, false},
      {"17.0.15", "17", false, false},
      {"17.0.15", "11", false, true},
      {"11.0.2", "17", true, false},
      {"17.0.15", "abc", false, false},  // a limit without a number never rejects
      {"", "1.6", false, false},
      {"1.8.0_392", "1.8.0_400", true, false},
  };
  for (const Case& c : cases) {
    const auto version = parseVersion(c.version);
    const auto limit = parseVersion(c.limit);
    EXPECT_EQ(versionTooLow(version, limit), c.tooLow) << c.version << " vs " << c.limit;
    EXPECT_EQ(versionTooHigh(version, limit), c.tooHigh) << c.version << " vs " << c.limit;
  }
}

}  // namespace
}  // namespace qlx
