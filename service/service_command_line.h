// The service command line: /install, /uninstall, /test, /help, and with no
// command the service dispatcher.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/function_ref.h"
#include "service/install_settings.h"

namespace qlx {

int serviceCommandLine(int argc, char** argv);

// What a run is for, decided from the command line (program name
// excluded) before the start-up applies what only the application needs,
// by the same rule serviceCommandLine decides with.
enum class RunKind {
  Application,     // no command (the service dispatcher) or /test: the whole start-up
  Command,         // /install, /uninstall, /help: their line also goes where stdout points
  ServiceCommand,  // /start, /stop, /restart, /pause, /continue, /status: the console only
};
RunKind runKindOf(int argc, char** argv);

// Everything /install hands to the manager.
struct ServiceRegistration {
  std::string imagePath, name, displayName, description;
  std::string dependencies;  // "/"-separated, ending in "/"
  bool interactive = false;
  InstallSettings settings;
  std::string accountName;   // as the manager takes it; empty for LocalSystem
  std::string password;      // only for a user account; never stored
};

// A setting the manager refused after the service was created: its name
// and the Win32 error. The service stays installed.
using SettingRefused = FunctionRef<void(const char* setting, uint32_t error)>;

// Platform side (service_control_win.cpp / service_control_posix.cpp):
// 0 or the message id of the failure reason.
int installService(const ServiceRegistration& registration, const SettingRefused& refused);
// `stillRunning`: the service is marked for deletion but runs on, and goes
// once it stops.
int uninstallService(const std::string& name, bool& stillRunning);
// Hands the main thread to the Service Control Manager; returns when the
// service ends, or at once with false when the manager did not start this
// process.
bool startServiceDispatcher(const std::string& serviceName);

// Reads a password from the console without echo (or a line of standard
// input when there is no console); false when none can be read.
bool readPassword(const std::string& prompt, std::string& password);

}  // namespace qlx
