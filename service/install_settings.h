// Install-time settings of the service: start type, recovery after
// failures, the account it runs as, and the preshutdown time. A product
// ships defaults with the program (string 260, written by qlxwrap as
// "key=value" lines), and the /install switches override them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qlx {

enum class StartType { Auto, DelayedAuto, Manual, Disabled };

struct RecoverySettings {
  bool enabled = false;
  uint32_t delaySeconds = 60;    // before each restart
  uint32_t count = 3;            // restarts within one reset period
  uint32_t resetSeconds = 86400; // failures older than this are forgotten
};

struct InstallSettings {
  StartType startType = StartType::Manual;
  std::string account;   // as given: empty or LocalSystem, LocalService, NetworkService, virtual, a user
  RecoverySettings recovery;
  // A stop with a non-zero exit code counts as a failure (recovery acts on
  // it); on by default once recovery is set.
  bool failOnExit = false;
  bool failOnExitGiven = false;
  uint32_t preshutdownSeconds = 20;
};

// auto/automatic, delayed/delayed-auto, manual/demand, disabled (any case).
bool parseStartType(std::string_view text, StartType& type);
// "automatic", "delayed automatic", "manual", "disabled".
const char* startTypeWord(StartType type);

// "none" (or off, no, false, 0) turns recovery off; otherwise
// DELAY[/COUNT[/RESET]] in whole seconds, COUNT at least 1.
bool parseRecovery(std::string_view text, RecoverySettings& recovery);

// The account name given to the manager: empty for LocalSystem, the
// NT AUTHORITY names for LocalService and NetworkService,
// "NT SERVICE\<service>" for "virtual", ".\<user>" for a bare user name, and
// any other name (DOMAIN\user, user@domain) as given.
std::string serviceAccountName(std::string_view given, std::string_view serviceName);
// Whether the manager needs a password for that account: only real users.
bool accountNeedsPassword(std::string_view accountName);

// Applies stored "key=value" lines (start, account, recovery, failonexit);
// blank lines are skipped. False with the offending line in `bad`.
bool applyStoredSettings(std::string_view text, InstallSettings& settings, std::string& bad);

}  // namespace qlx
