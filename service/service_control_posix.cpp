// Linux has no Service Control Manager: installing and removing report
// "Service can be installed on Windows NT only.", and the dispatcher returns
// at once, as StartServiceCtrlDispatcherA does for a program started from a
// console.
#include "service/service_command_line.h"

#include "launcher/messages.h"

namespace qlx {

int installService(const ServiceRegistration&, const SettingRefused&) { return kMsgNtOnly; }

int uninstallService(const std::string&, bool& stillRunning) {
  stillRunning = false;
  return kMsgNtOnly;
}

bool startServiceDispatcher(const std::string&) { return false; }

bool readPassword(const std::string&, std::string&) { return false; }

}  // namespace qlx
