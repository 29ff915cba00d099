// Install-time settings: start types, recovery, account names and the
// stored "key=value" defaults the generator writes.
#include <gtest/gtest.h>

#include "service/install_settings.h"
#include "service/nearest_word.h"

namespace qlx {
namespace {

TEST(InstallSettings, StoredLinesAndTheirMeaning) {
  struct Case {
    const char* text;
    bool ok;
    StartType start;
    const char* account;
    bool recovery;
    uint32_t delay, count, reset;
    bool failOnExit;
  } cases[] = {
      {"", true, StartType::Manual, "", false, 60, 3, 86400, false},
      {"start=auto\n", true, StartType::Auto, "", false, 60, 3, 86400, false},
      {"start = Delayed\r\naccount = LocalService\n", true, StartType::DelayedAuto, "LocalService",
       false, 60, 3, 86400, false},
      {"start=disabled\n\nrecovery=5\n", true, StartType::Disabled, "", true, 5, 3, 86400, false},
      {"recovery=10/2/3600\nfailonexit=yes", true, StartType::Manual, "", true, 10, 2, 3600, true},
      {"recovery=none", true, StartType::Manual, "", false, 60, 3, 86400, false},
      {"start=sometimes", false},
      {"recovery=10/0", false},
      {"recovery=10/2/3/4", false},
      {"recovery=ten", false},
      {"recovery=", false},
      {"failonexit=maybe", false},
      {"colour=blue", false},
      {"start", false},
  };
  for (const Case& c : cases) {
    InstallSettings settings;
    std::string bad;
    ASSERT_EQ(applyStoredSettings(c.text, settings, bad), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(bad.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(settings.startType, c.start) << c.text;
    EXPECT_EQ(settings.account, c.account) << c.text;
    EXPECT_EQ(settings.recovery.enabled, c.recovery) << c.text;
    EXPECT_EQ(settings.recovery.delaySeconds, c.delay) << c.text;
    EXPECT_EQ(settings.recovery.count, c.count) << c.text;
    EXPECT_EQ(settings.recovery.resetSeconds, c.reset) << c.text;
    EXPECT_EQ(settings.failOnExit, c.failOnExit) << c.text;
  }
}

TEST(InstallSettings, AccountsAsTheManagerTakesThem) {
  struct Case {
    const char* given;
    const char* name;
    bool password;
  } cases[] = {
      {"", "", false},
      {"localsystem", "", false},
      {"LocalService", "NT AUTHORITY\\LocalService", false},
      {"NETWORKSERVICE", "NT AUTHORITY\\NetworkService", false},
      {"virtual", "NT SERVICE\\MySvc", false},
      {"NT SERVICE\\Other", "NT SERVICE\\Other", false},
      {"alice", ".\\alice", true},
      {"CORP\\bob", "CORP\\bob", true},
      {"bob@corp.example", "bob@corp.example", true},
  };
  for (const Case& c : cases) {
    const std::string name = serviceAccountName(c.given, "MySvc");
    EXPECT_EQ(name, c.name) << c.given;
    EXPECT_EQ(accountNeedsPassword(name), c.password) << c.given;
  }
}

// Recovery values are bounded before anything is built from them: the
// delay becomes milliseconds in 32 bits, the count the action list.
TEST(InstallSettings, RecoveryBoundsAndWhatTheyTell) {
  struct Case {
    const char* text;
    bool ok;
    const char* why;
  } cases[] = {
      {"86400/1023/999999999", true, ""},
      {"86401", false, "DELAY is at most 86400"},
      {"4294968", false, "DELAY is at most 86400"},  // x1000 wraps in 32 bits
      {"60/1024", false, "COUNT is 1 to 1023"},
      {"60/999999999", false, "COUNT is 1 to 1023"},
      {"60/0", false, "COUNT is 1 to 1023"},
      {"60/3/1234567890", false, "DELAY[/COUNT[/RESET]], seconds"},
      {"5/x", false, "DELAY[/COUNT[/RESET]], seconds"},
  };
  for (const Case& c : cases) {
    RecoverySettings recovery;
    std::string why;
    EXPECT_EQ(parseRecovery(c.text, recovery, &why), c.ok) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
    // The stored form and qlxwrap take the same rule and say the same.
    InstallSettings settings;
    std::string bad, storedWhy;
    EXPECT_EQ(applyStoredSettings(std::string("recovery=") + c.text, settings, bad, &storedWhy),
              c.ok)
        << c.text;
    EXPECT_EQ(storedWhy, c.why) << c.text;
  }
}

TEST(InstallSettings, NamesNearABuiltInAccountAreTakenForSlips) {
  struct Case {
    const char* given;
    const char* near;  // null: taken as it stands
  } cases[] = {
      {"LocalServce", "LocalService"}, {"localsytem", "LocalSystem"},
      {"NetworkSevrice", "NetworkService"}, {"virtaul", "virtual"},
      {"LocalService", nullptr},       {"LOCALSYSTEM", nullptr},
      {"alice", nullptr},              {".\\LocalServce", nullptr},
      {"CORP\\LocalServce", nullptr}, {"LocalServce@corp", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    const char* near = builtInAccountNear(c.given);
    EXPECT_STREQ(near, c.near) << c.given;
    InstallSettings settings;
    std::string bad, why;
    EXPECT_EQ(applyStoredSettings(std::string("account=") + c.given, settings, bad, &why),
              c.near == nullptr || *c.given == 0)
        << c.given;
  }
}

TEST(NearestWord, EditsIgnoreCase) {
  struct Case {
    const char* a;
    const char* b;
    size_t distance;
  } cases[] = {
      {"staus", "status", 1}, {"stpo", "stop", 2},    {"STATUS", "status", 0},
      {"", "stop", 4},        {"isntall", "install", 2}, {"paus", "pause", 1},
      {"contniue", "continue", 2}, {"xyz", "", 3},
  };
  for (const Case& c : cases) EXPECT_EQ(editDistanceIgnoreCase(c.a, c.b), c.distance) << c.a;
  const char* const words[] = {"start", "stop", "status", nullptr};
  size_t distance = 0;
  EXPECT_STREQ(nearestWord("staus", words, distance), "status");
  EXPECT_EQ(distance, 1u);
  EXPECT_STREQ(nearestWord("sto", words, distance), "stop");
}

}  // namespace
}  // namespace qlx
