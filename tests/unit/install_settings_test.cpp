// Install-time settings: start types, recovery, account names and the
// stored "key=value" defaults the generator writes.
#include <gtest/gtest.h>

#include "service/install_settings.h"

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

}  // namespace
}  // namespace qlx
