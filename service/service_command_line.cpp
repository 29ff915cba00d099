// The service command line: the first install, uninstall, test, help or
// service command switch decides what this run does; with none, the program
// serves the Service Control Manager.
#include "service/service_command_line.h"

#include <cstdio>
#include <memory>

#include "launcher/arguments.h"
#include "launcher/config.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "launcher/text.h"
#include "service/install_settings.h"
#include "service/nearest_word.h"
#include "service/service_commands.h"
#include "service/stop_timeout.h"
#include "service/switches.h"
#include "vm/launch.h"

namespace qlx {

namespace {

enum class Command { None, Install, Uninstall, Test, Help, Service };

bool nameIs(const std::string& name, std::initializer_list<const char*> words) {
  for (const char* word : words) {
    if (equalsIgnoreCase(name, word)) return true;
  }
  return false;
}

// The switch words that decide what a run does, as the switch table spells
// them; a service command word also names its command.
const struct {
  const char* name;
  Command command;
  ServiceCommand service;
} kCommandWords[] = {
    {"install", Command::Install, {}},    {"-install", Command::Install, {}},
    {"inst", Command::Install, {}},       {"uninstall", Command::Uninstall, {}},
    {"-uninstall", Command::Uninstall, {}}, {"uninst", Command::Uninstall, {}},
    {"test", Command::Test, {}},          {"-test", Command::Test, {}},
    {"help", Command::Help, {}},          {"-help", Command::Help, {}},
    {"h", Command::Help, {}},             {"?", Command::Help, {}},
    {"start", Command::Service, ServiceCommand::Start},
    {"stop", Command::Service, ServiceCommand::Stop},
    {"restart", Command::Service, ServiceCommand::Restart},
    {"pause", Command::Service, ServiceCommand::Pause},
    {"continue", Command::Service, ServiceCommand::Continue},
    {"status", Command::Service, ServiceCommand::Status},
};

Command commandOf(const std::string& name, ServiceCommand* service = nullptr) {
  for (const auto& word : kCommandWords) {
    if (!equalsIgnoreCase(name, word.name)) continue;
    if (service != nullptr && word.command == Command::Service) *service = word.service;
    return word.command;
  }
  return Command::None;
}

// Switches that configure the installation itself: read wherever they
// stand, and never copied into the image path (a password must not be
// stored anywhere).
bool isInstallSetting(const std::string& name) {
  return nameIs(name, {"account", "password", "recovery", "failonexit"});
}

struct Decision {
  Command command = Command::None;
  SwitchResult decided;  // the deciding switch
  int index = 0;         // the argument after it (and after its value)
};

// The first install, uninstall, test, help or service command switch
// decides; plain arguments, unknown switches and the modifiers before it
// are passed over, and later arguments are not examined as commands.
Decision decide(const SwitchParser& parser) {
  Decision d;
  while (d.command == Command::None) {
    SwitchResult result = parser.next(d.index);
    if (result.status == 0) break;
    if (!result.hasName || result.status == -2) continue;
    d.command = commandOf(result.name);
    if (d.command != Command::None) d.decided = std::move(result);
  }
  return d;
}

// The first switch that is no entry of the table, as it was written.
bool firstUnknownSwitch(const SwitchParser& parser, std::string& written) {
  int index = 0;
  for (;;) {
    const SwitchResult result = parser.next(index);
    if (result.status == 0) return false;
    if (result.status == -2) {
      written = result.name;
      return true;
    }
  }
}

std::string nearestCommand(std::string_view written) {
  static const char* const kCommands[] = {"install", "uninstall", "test",    "help",
                                          "start",   "stop",      "restart", "pause",
                                          "continue", "status",   nullptr};
  while (!written.empty() && (written.front() == '/' || written.front() == '-'))
    written.remove_prefix(1);
  written = written.substr(0, written.find_first_of(":="));
  size_t distance = 0;
  return std::string("/") + nearestWord(written, kCommands, distance);
}

bool interactiveRequested(const SwitchParser& parser) {
  std::string value;
  for (const char* name : {"interactive", "interact", "inter"}) {
    if (parser.findValue(name, value)) return isTrue(value);
  }
  return false;
}

StringList argumentsFrom(int index, int argc, char** argv) {
  StringList list;
  for (int i = index; i < argc; ++i) list.emplace_back(argv[i] ? argv[i] : "");
  return list;
}

// One result line, written as it stands.
void printLine(const std::string& text) { printResult(text); }

// The report line. Only the service name is filled in; a reason text is
// appended as it stands, so a `%` in any of the texts is printed as written.
// Nothing is cut: an overridden usage text may be far longer than a message
// of the launch, and /help must show it as whole as the plain start does.
void printReport(const std::string& format, const std::string& serviceName,
                 const std::string& reason = std::string()) {
  printLine(fillPlaceholders(format, {serviceName}, std::string::npos) + reason);
}

// The service's name; a program that has none in its string table (the
// Linux build has no room for one) is named after its file, as qlxwrap
// names a service by default.
std::string serviceNameOfProgram() {
  std::string name = messageText(kMsgServiceName);
  if (!name.empty()) return name;
  const std::string path = executablePath();
  const PathSplit split = splitNarrowPath(path, isNarrowLeadByte);
  const size_t begin = split.lastSeparator == std::string::npos ? 0 : split.lastSeparator + 1;
  size_t end = path.size();
  if (split.extensionDot != std::string::npos && split.extensionDot >= begin &&
      equalsIgnoreCase(std::string_view(path).substr(split.extensionDot), ".exe"))
    end = split.extensionDot;
  return path.substr(begin, end - begin);
}

// The arguments after the install switch, without the install settings.
StringList serviceArguments(const SwitchParser& parser, int index, int argc, char** argv) {
  StringList list;
  while (index < argc) {
    const int from = index;
    const SwitchResult result = parser.next(index);
    if (result.status == 0) break;
    if (result.hasName && result.status != -2 && isInstallSetting(result.name)) continue;
    for (int i = from; i < index; ++i) list.emplace_back(argv[i] ? argv[i] : "");
  }
  return list;
}

enum class PasswordGiven { None, Value, Stray };

// The password is taken only from /password:VALUE (or =VALUE), in one
// argument. Anything else that looks like a value for it (the argument after
// a bare /password, text glued to the name) may well be the password itself:
// it is neither taken nor passed on to the service, and the install stops.
PasswordGiven passwordOf(const SwitchParser& parser, int argc, char** argv, std::string& value) {
  static constexpr size_t kSwitchLength = 9;  // "/password"
  int index = 0;
  for (;;) {
    const int from = index;
    const SwitchResult result = parser.next(index);
    if (result.status == 0) return PasswordGiven::None;
    if (!result.hasName || result.status == -2 || !equalsIgnoreCase(result.name, "password"))
      continue;
    if (index > from + 1) return PasswordGiven::Stray;  // the next argument was taken as its value
    const std::string_view written = argv[from] != nullptr ? argv[from] : "";
    const std::string_view rest = written.substr(kSwitchLength);
    if (!rest.empty() && (rest[0] == ':' || rest[0] == '=')) {
      value.assign(rest.substr(1));
      return PasswordGiven::Value;
    }
    if (!rest.empty()) return PasswordGiven::Stray;
    // A bare /password asks, unless a value-like argument follows it.
    if (index < argc) {
      int peek = index;
      if (parser.next(peek).status == -2) return PasswordGiven::Stray;
    }
    return PasswordGiven::None;
  }
}

// Stored defaults, then the /install value and switches. On a mistake:
// its message id and the reason text.
int collectSettings(const SwitchParser& parser, const SwitchResult& install,
                    InstallSettings& settings, std::string& reasonText) {
  auto badValue = [&](const std::string& name, const std::string& value, const std::string& why) {
    reasonText = messageWith(kMsgBadSetting,
                             {name, value, why.empty() ? std::string() : " (" + why + ")"});
    return kMsgBadSetting;
  };
  std::string bad, why;
  if (!applyStoredSettings(messageText(kMsgServiceSettings), settings, bad, &why))
    return badValue("the stored service settings", bad, why);
  if (!install.value.empty() && !parseStartType(install.value, settings.startType)) {
    // Most often an argument meant for the service: say how to pass one.
    reasonText = messageWith(kMsgBadStartType, {install.value, startTypeSwitchWord(settings.startType),
                                                 install.value});
    return kMsgBadStartType;
  }
  std::string value;
  if (parser.findValue("account", value)) {
    settings.account = value;
    if (const char* near = builtInAccountNear(value)) {
      reasonText = messageWith(kMsgAccountTypo, {value, near, value});
      return kMsgAccountTypo;
    }
  }
  if (parser.findValue("recovery", value) && !parseRecovery(value, settings.recovery, &why))
    return badValue("/recovery", value, why);
  if (parser.findValue("failonexit", value)) {
    settings.failOnExit = isTrue(value);
    settings.failOnExitGiven = true;
  }
  const ProcessState& state = processState();
  if (state.context != nullptr)
    settings.preshutdownSeconds = stopTimeoutSeconds(stopTimeoutValue(*state.context));
  return 0;
}

int installCommand(const SwitchParser& parser, const SwitchResult& install, int index, int argc,
                   char** argv, ServiceRegistration& r) {
  std::string reasonText;
  int reason = collectSettings(parser, install, r.settings, reasonText);
  if (reason == 0) {
    r.interactive = interactiveRequested(parser);
    r.accountName = serviceAccountName(r.settings.account, r.name);
    const PasswordGiven given = passwordOf(parser, argc, argv, r.password);
    if (given == PasswordGiven::Stray) {
      reason = kMsgStrayPassword;
      reasonText = messageText(reason);
    } else if (accountNeedsPassword(r.accountName) && given == PasswordGiven::None &&
               !readPassword(messageWith(kMsgPasswordPrompt, {r.accountName}),
                             r.password)) {
      reason = kMsgBadSetting;
      reasonText = messageWith(reason, {"/password", "", ""});
    }
  }
  if (reason == 0) {
    // The arguments after the switch (and its value) are the ones the
    // service receives when it starts.
    r.imagePath.assign("\"").append(executablePath()).append("\" ");
    r.imagePath.append(joinArguments(serviceArguments(parser, index, argc, argv)));
    reason = installService(r, [&](const char* setting, uint32_t code) {
      printLine(messageWith(kMsgSettingNotApplied, {r.name, setting, decimalText(code)}));
    });
    if (reason != 0) reasonText = messageText(reason);
  }
  r.password.assign(r.password.size(), '\0');
  if (reason == 0) {
    printReport(messageText(kMsgInstalled), r.name);
  } else {
    printReport(messageText(kMsgInstallFailed), r.name, reasonText);
  }
  return reason;
}

int uninstallCommand(const std::string& serviceName) {
  bool stillRunning = false;
  const int reason = uninstallService(serviceName, stillRunning);
  if (reason != 0) {
    printReport(messageText(kMsgUninstallFailed), serviceName, messageText(reason));
    return reason;
  }
  printReport(messageText(kMsgUninstalled), serviceName);
  if (stillRunning) printReport(messageText(kMsgStillRunning), serviceName);
  return 0;
}

int serviceCommand(const std::string& name, const std::string& serviceName, int index, int argc,
                   char** argv) {
  ServiceCommand command = ServiceCommand::Status;
  commandOf(name, &command);
  CommandSetting setting;
  setting.serviceName = serviceName;
  const ProcessState& state = processState();
  if (state.context != nullptr) {
    setting.stopBoundSeconds = stopTimeoutSeconds(stopTimeoutValue(*state.context));
    setting.errorLog = stderrValue(*state.context);
    if (setting.errorLog.empty()) setting.errorLog = state.context->applicationPath + ".stderr.log";
  }
  std::unique_ptr<ServiceManagerLink> link = systemServiceManager();
  return runServiceCommand(command, argumentsFrom(index, argc, argv), setting, *link, printLine,
                           printProgress);
}

}  // namespace

RunKind runKindOf(int argc, char** argv) {
  SwitchParser parser(kServiceSwitchTable, argc, argv);
  switch (decide(parser).command) {
    case Command::None:
    case Command::Test: return RunKind::Application;
    case Command::Service: return RunKind::ServiceCommand;
    case Command::Install:
    case Command::Uninstall:
    case Command::Help: break;
  }
  return RunKind::Command;
}

int serviceCommandLine(int argc, char** argv) {
  const std::string serviceName = serviceNameOfProgram();
  SwitchParser parser(kServiceSwitchTable, argc, argv);
  const Decision d = decide(parser);

  switch (d.command) {
    case Command::None: {
      ProcessState& state = processState();
      state.argc = argc;
      state.argv = argv;
      // Started by the manager, the program serves it, whatever switches its
      // image path carries: they may be the application's own. The usage
      // text is for a person at a console: a service started by the manager
      // keeps its output logs for the application alone.
      if (startServiceDispatcher(serviceName)) return 0;
      printLine(messageText(kMsgUsage));
      std::string unknown;
      if (firstUnknownSwitch(parser, unknown)) {
        printLine(messageWith(kMsgUnknownSwitch, {unknown, nearestCommand(unknown)}));
        return kMsgUnknownSwitch;
      }
      return 0;
    }
    case Command::Install: {
      // On the heap: in this frame it would put the other locals out of
      // reach of short stack offsets.
      const auto registration = std::make_unique<ServiceRegistration>();
      registration->name = serviceName;
      registration->displayName = messageText(kMsgServiceDisplayName);
      registration->description = messageText(kMsgServiceDescription);
      registration->dependencies = messageText(kMsgServiceDependencies) + "/";
      return installCommand(parser, d.decided, d.index, argc, argv, *registration);
    }
    case Command::Uninstall:
      return uninstallCommand(serviceName);
    case Command::Test:
      return launchApplication(argumentsFrom(d.index, argc, argv), nullptr, StringList());
    case Command::Help:
      printReport(messageText(kMsgUsage), serviceName);
      return 0;
    case Command::Service:
      return serviceCommand(d.decided.name, serviceName, d.index, argc, argv);
  }
  return 0;
}

}  // namespace qlx
