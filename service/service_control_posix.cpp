// Linux has no Service Control Manager: installing and removing report
// "Service can be installed on Windows NT only.", and the dispatcher returns
// at once, as StartServiceCtrlDispatcherA does for a program started from a
// console.
#include "service/service_command_line.h"

#include "launcher/messages.h"

namespace qlx {

int installService(const std::string&, const std::string&, const std::string&,
                   const std::string&, const std::string&, bool, bool) {
  return kMsgNtOnly;
}

int uninstallService(const std::string&) { return kMsgNtOnly; }

void startServiceDispatcher(const std::string&) {}

}  // namespace qlx
