// Messages: every text shown to the user has an id; the string table gives
// the default and `message id=text` lines override it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "launcher/launcher_context.h"
#include "launcher/os.h"

namespace qlx {

enum MessageId : int {
  kMsgJreNotFound = 1,
  kMsgJreNotValid = 2,
  kMsgVmInitFailed = 3,
  kMsgVmStartFailed = 4,
  kMsgNoVmVersion = 5,
  kMsgVersionTooLow = 6,
  kMsgMainClassNotFound = 7,
  kMsgMainMethodMissing = 8,
  kMsgModified = 9,
  kMsgError = 10,
  kMsgVersionTooHigh = 12,
  kMsgAlreadyRunning = 13,
  kMsgNoPayload = 14,  // launcher file carries no usable payload
  kMsgLogNotOpened = 15,  // a stdout/stderr log cannot be opened
  kMsgVersionTooHighMaxOnly = 16,  // the text of 12 when only maxjre is set (the code stays 12)
  kMsgServiceName = 256,
  kMsgServiceDisplayName = 257,
  kMsgServiceDescription = 258,
  kMsgServiceDependencies = 259,
  kMsgServiceSettings = 260,  // install-time settings the generator stores ("key=value" lines)
  kMsgNtOnly = 272,
  kMsgInstalled = 273,
  kMsgInstallFailed = 274,
  kMsgUninstalled = 275,
  kMsgUninstallFailed = 276,
  kMsgAccessDenied = 277,
  kMsgDupName = 278,
  kMsgMarkedForDelete = 279,
  kMsgServiceExists = 280,
  kMsgErrorOccurs = 281,
  kMsgNoSuchService = 282,
  // The service commands (/start, /stop, /restart, /pause, /continue, /status)
  // and the install-time settings. A failure's reason id is the exit code.
  kMsgCommandFailed = 283,
  kMsgNeedElevation = 284,
  kMsgServiceRunning = 285,
  kMsgServiceStopped = 286,
  kMsgServiceDisabled = 287,
  kMsgDependencyFailed = 288,
  kMsgStartFailed = 289,
  kMsgCommandTimedOut = 290,
  kMsgLogonFailed = 291,
  kMsgControlRefused = 292,
  kMsgDependentsRunning = 293,
  kMsgManagerError = 294,
  kMsgStarted = 295,
  kMsgStopped = 296,
  kMsgRestarted = 297,
  kMsgPaused = 298,
  kMsgContinued = 299,
  kMsgStatus = 300,
  kMsgStatusDetails = 301,
  kMsgBadStartType = 302,
  kMsgBadSetting = 303,
  kMsgPasswordPrompt = 304,
  kMsgSettingNotApplied = 305,
  kMsgWaiting = 306,
  kMsgUnknownSwitch = 307,
  kMsgAccountTypo = 308,
  kMsgStrayPassword = 309,
  kMsgStillRunning = 310,
  kMsgStatusRecovery = 311,
  kMsgUsage = 1024,
};

// Upper bound of a formatted message, as for the runtime buffer it replaces.
inline constexpr size_t kMaxFormattedMessage = 1031;

// \n \r \t become control characters, \x becomes x, a final \ ends the text.
// Braced references (${...}, %{...}%) are copied as written.
std::string unescapeMessage(std::string_view text);

// Fills each "%s" with the next argument (missing ones are empty) and turns
// "%%" into "%"; every other character, other '%' sequences included, is
// copied as is. The text is never used as a printf format. The result is cut
// at `limit` bytes.
std::string fillPlaceholders(std::string_view format, std::initializer_list<std::string_view> args,
                             size_t limit = kMaxFormattedMessage);

// The `message id=text` overrides, first line of an id wins.
class MessageOverrides {
 public:
  void build(const LauncherContext& context, Os& os);
  // Null when the id has no override.
  const std::string* find(int id) const;

 private:
  std::vector<std::pair<int, std::string>> entries_;
};

// The text of a message: first `message` override, else the string table,
// else empty. Uses the published launcher context.
std::string messageText(int id);

// fillPlaceholders(messageText(id), args, limit), in one call for the many
// places that say a message with its values.
std::string messageWith(int id, std::initializer_list<std::string_view> args,
                        size_t limit = kMaxFormattedMessage);

// The string table text of an id (resource on Windows, built-in table on
// Linux); empty when the table has none. messages_win.cpp / messages_posix.cpp.
std::string stringTableText(int id);

// "%s\n" to stderr and, unless stdout and stderr share one file, to stdout;
// also to the output the process was started with when stdout was redirected.
void printMessage(const std::string& text);

// A warning about the configuration: "%s\n" to standard error and a trace
// line, once per distinct text in the process.
void printWarningOnce(const std::string& text);

// A command's result (install, help, the service commands): standard output,
// and also the output the process was started with when standard output
// now goes elsewhere, so a `stdout` log does not swallow it.
void printResult(const std::string& text);

// Progress for a person watching ("...."): written only to the output the
// process was started with, and only when that is a console or terminal.
void printProgress(const std::string& text);

// The output the process was started with, kept from before any redirection
// (messages_win.cpp / messages_posix.cpp): whether standard output has been
// pointed elsewhere since, whether it is interactive, and raw writing to it.
bool startOutputRedirected();
bool startOutputInteractive();
void writeStartOutput(const std::string& text);

// printMessage(messageText(id)), then exit(id).
[[noreturn]] void reportFatal(int id);

}  // namespace qlx
