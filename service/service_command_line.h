// The service command line: /install, /uninstall, /test, /help, and with no
// command the service dispatcher.
#pragma once

#include <string>

namespace qlx {

int serviceCommandLine(int argc, char** argv);

// Platform side (service_control_win.cpp / service_control_posix.cpp):
// 0 or the message id of the failure reason.
int installService(const std::string& imagePath, const std::string& name,
                   const std::string& displayName, const std::string& description,
                   const std::string& dependencies, bool autoStart, bool interactive);
int uninstallService(const std::string& name);
// Hands the main thread to the Service Control Manager; returns when the
// service ends or at once when not started by it.
void startServiceDispatcher(const std::string& serviceName);

}  // namespace qlx
