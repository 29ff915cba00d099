// The service command line: the first install, uninstall, test, help or
// service command switch decides what this run does; with none, the program
// serves the Service Control Manager.
#include "service/service_command_line.h"

#include <cstdio>

#include "launcher/arguments.h"
#include "launcher/config.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "service/install_settings.h"
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

bool serviceCommandOf(const std::string& name, ServiceCommand& command) {
  static const struct {
    const char* name;
    ServiceCommand command;
  } kCommands[] = {{"start", ServiceCommand::Start},     {"stop", ServiceCommand::Stop},
                   {"restart", ServiceCommand::Restart}, {"pause", ServiceCommand::Pause},
                   {"continue", ServiceCommand::Continue}, {"status", ServiceCommand::Status}};
  for (const auto& entry : kCommands) {
    if (equalsIgnoreCase(name, entry.name)) {
      command = entry.command;
      return true;
    }
  }
  return false;
}

// Switches that configure the installation itself: read wherever they
// stand, and never copied into the image path (a password must not be
// stored anywhere).
bool isInstallSetting(const std::string& name) {
  return nameIs(name, {"account", "password", "recovery", "failonexit"});
}

Command commandOf(const std::string& name) {
  if (nameIs(name, {"install", "-install", "inst"})) return Command::Install;
  if (nameIs(name, {"uninstall", "-uninstall", "uninst"})) return Command::Uninstall;
  if (nameIs(name, {"test", "-test"})) return Command::Test;
  if (nameIs(name, {"help", "-help", "h", "?"})) return Command::Help;
  ServiceCommand unused;
  if (serviceCommandOf(name, unused)) return Command::Service;
  return Command::None;
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

struct SettingError {
  std::string name, value;
};

// Stored defaults, then the /install value and switches. False with the
// setting at fault.
bool collectSettings(const SwitchParser& parser, const SwitchResult& install,
                     InstallSettings& settings, SettingError& error, bool& unknownStartType) {
  std::string bad;
  if (!applyStoredSettings(messageText(kMsgServiceSettings), settings, bad)) {
    error = {"the stored service settings", bad};
    return false;
  }
  unknownStartType = false;
  if (!install.value.empty() && !parseStartType(install.value, settings.startType))
    unknownStartType = true;
  std::string value;
  if (parser.findValue("account", value)) settings.account = value;
  if (parser.findValue("recovery", value) && !parseRecovery(value, settings.recovery)) {
    error = {"/recovery", value};
    return false;
  }
  if (parser.findValue("failonexit", value)) {
    settings.failOnExit = isTrue(value);
    settings.failOnExitGiven = true;
  }
  const ProcessState& state = processState();
  if (state.context != nullptr)
    settings.preshutdownSeconds = stopTimeoutSeconds(stopTimeoutValue(*state.context));
  return true;
}

int installCommand(const SwitchParser& parser, const SwitchResult& install, int index, int argc,
                   char** argv, ServiceRegistration& r) {
  SettingError error;
  bool unknownStartType = false;
  int reason = 0;
  if (!collectSettings(parser, install, r.settings, error, unknownStartType)) {
    reason = kMsgBadSetting;
  } else {
    r.interactive = interactiveRequested(parser);
    r.accountName = serviceAccountName(r.settings.account, r.name);
    if (accountNeedsPassword(r.accountName) && !parser.findValue("password", r.password) &&
        !readPassword(fillPlaceholders(messageText(kMsgPasswordPrompt), {r.accountName}),
                      r.password)) {
      error = {"/password", ""};
      reason = kMsgBadSetting;
    }
  }
  if (reason == 0) {
    if (unknownStartType) {
      const char* type = startTypeWord(r.settings.startType);
      printLine(fillPlaceholders(messageText(kMsgStartTypeNote),
                                 {install.value, type, install.value, install.value}));
    }
    // The arguments after the switch (and its value) are the ones the
    // service receives when it starts.
    r.imagePath = "\"" + executablePath() + "\" " +
                  joinArguments(serviceArguments(parser, index, argc, argv));
    reason = installService(r, [&](const char* setting, uint32_t code) {
      printLine(fillPlaceholders(messageText(kMsgSettingNotApplied),
                                 {r.name, setting, std::to_string(code)}));
    });
  }
  r.password.assign(r.password.size(), '\0');
  if (reason == 0) {
    printReport(messageText(kMsgInstalled), r.name);
  } else if (reason == kMsgBadSetting) {
    printReport(messageText(kMsgInstallFailed), r.name,
                fillPlaceholders(messageText(reason), {error.name, error.value}));
  } else {
    printReport(messageText(kMsgInstallFailed), r.name, messageText(reason));
  }
  return reason;
}

int serviceCommand(const std::string& name, const std::string& serviceName, int index, int argc,
                   char** argv) {
  ServiceCommand command = ServiceCommand::Status;
  serviceCommandOf(name, command);
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

int serviceCommandLine(int argc, char** argv) {
  const std::string serviceName = messageText(kMsgServiceName);
  const std::string displayName = messageText(kMsgServiceDisplayName);
  const std::string description = messageText(kMsgServiceDescription);
  const std::string dependencies = messageText(kMsgServiceDependencies) + "/";

  SwitchParser parser(kServiceSwitchTable, argc, argv);
  int index = 0;
  Command command = Command::None;
  SwitchResult decided;
  while (command == Command::None) {
    SwitchResult result = parser.next(index);
    if (result.status == 0) break;
    if (!result.hasName || result.status == -2) continue;  // plain argument or unknown switch
    command = commandOf(result.name);
    if (command != Command::None) decided = result;
  }

  switch (command) {
    case Command::None: {
      ProcessState& state = processState();
      state.argc = argc;
      state.argv = argv;
      // The usage text is for a person at a console: a service started by
      // the manager keeps its output logs for the application alone.
      if (!startServiceDispatcher(serviceName)) printLine(messageText(kMsgUsage));
      fflush(stdout);
      return 0;
    }
    case Command::Install: {
      ServiceRegistration registration;
      registration.name = serviceName;
      registration.displayName = displayName;
      registration.description = description;
      registration.dependencies = dependencies;
      return installCommand(parser, decided, index, argc, argv, registration);
    }
    case Command::Uninstall: {
      int reason = uninstallService(serviceName);
      if (reason == 0) {
        printReport(messageText(kMsgUninstalled), serviceName);
      } else {
        printReport(messageText(kMsgUninstallFailed), serviceName, messageText(reason));
      }
      return reason;
    }
    case Command::Test:
      return launchApplication(argumentsFrom(index, argc, argv), nullptr, StringList());
    case Command::Help:
      printReport(messageText(kMsgUsage), serviceName);
      return 0;
    case Command::Service:
      return serviceCommand(decided.name, serviceName, index, argc, argv);
  }
  return 0;
}

}  // namespace qlx
