// The service command line: the first install, uninstall, test or help
// switch decides what this run does; with none, the program serves the
// Service Control Manager.
#include "service/service_command_line.h"

#include <cstdio>

#include "launcher/arguments.h"
#include "launcher/launcher_context.h"
#include "launcher/messages.h"
#include "launcher/process_state.h"
#include "service/switches.h"
#include "vm/launch.h"

namespace qlx {

namespace {

enum class Command { None, Install, Uninstall, Test, Help };

bool nameIs(const std::string& name, std::initializer_list<const char*> words) {
  for (const char* word : words) {
    if (equalsIgnoreCase(name, word)) return true;
  }
  return false;
}

Command commandOf(const std::string& name) {
  if (nameIs(name, {"install", "-install", "inst"})) return Command::Install;
  if (nameIs(name, {"uninstall", "-uninstall", "uninst"})) return Command::Uninstall;
  if (nameIs(name, {"test", "-test"})) return Command::Test;
  if (nameIs(name, {"help", "-help", "h", "?"})) return Command::Help;
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

// One line on standard output, written as it stands ("%s\n").
void printLine(const std::string& text) {
  fputs(text.c_str(), stdout);
  fputc('\n', stdout);
}

// The report line. Only the service name is filled in; a reason text is
// appended as it stands, so a `%` in any of the texts is printed as written.
// Nothing is cut: an overridden usage text may be far longer than a message
// of the launch, and /help must show it as whole as the plain start does.
void printReport(const std::string& format, const std::string& serviceName,
                 const std::string& reason = std::string()) {
  printLine(fillPlaceholders(format, {serviceName}, std::string::npos) + reason);
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
      printLine(messageText(kMsgUsage));
      fflush(stdout);
      ProcessState& state = processState();
      state.argc = argc;
      state.argv = argv;
      startServiceDispatcher(serviceName);
      return 0;
    }
    case Command::Install: {
      bool autoStart = equalsIgnoreCase(decided.value, "auto");
      bool interactive = interactiveRequested(parser);
      // The arguments after the switch (and its value) are the ones the
      // service receives when it starts.
      std::string imagePath =
          "\"" + executablePath() + "\" " + joinArguments(argumentsFrom(index, argc, argv));
      int reason = installService(imagePath, serviceName, displayName, description, dependencies,
                                  autoStart, interactive);
      if (reason == 0) {
        printReport(messageText(kMsgInstalled), serviceName);
      } else {
        printReport(messageText(kMsgInstallFailed), serviceName, messageText(reason));
      }
      return reason;
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
      return launchApplication(argumentsFrom(index, argc, argv), std::function<void()>(),
                               StringList());
    case Command::Help:
      printReport(messageText(kMsgUsage), serviceName);
      return 0;
  }
  return 0;
}

}  // namespace qlx
