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

// The limits of a recovery setting: a restart waits at most a day, and the
// manager keeps at most 1024 failure actions, one of which ends the list.
constexpr uint32_t kMaxRecoveryDelaySeconds = 86400;
constexpr uint32_t kMaxRecoveryCount = 1023;

// "none" (or off, no, false, 0) turns recovery off; otherwise
// DELAY[/COUNT[/RESET]] in whole seconds, DELAY at most a day, COUNT from 1
// to kMaxRecoveryCount. False with the rule that was broken in `why`.
bool parseRecovery(std::string_view text, RecoverySettings& recovery, std::string* why = nullptr);
// "auto", "delayed", "manual", "disabled": the word /install takes.
const char* startTypeSwitchWord(StartType type);

// The account name given to the manager: empty for LocalSystem, the
// NT AUTHORITY names for LocalService and NetworkService,
// "NT SERVICE\<service>" for "virtual", ".\<user>" for a bare user name, and
// any other name (DOMAIN\user, user@domain) as given.
std::string serviceAccountName(std::string_view given, std::string_view serviceName);
// Whether the manager needs a password for that account: only real users.
bool accountNeedsPassword(std::string_view accountName);
// The built-in account (LocalSystem, LocalService, NetworkService, virtual)
// that `given` is a slip of, or null: a name one or two edits away from one
// is far likelier a typo than a user of that name (who can still be given
// as .\name).
const char* builtInAccountNear(std::string_view given);

// Applies stored "key=value" lines (start, account, recovery, failonexit);
// blank lines are skipped. False with the offending line in `bad` and, where
// there is more to say than that it is not valid, the reason in `why`.
bool applyStoredSettings(std::string_view text, InstallSettings& settings, std::string& bad,
                         std::string* why = nullptr);

}  // namespace qlx
