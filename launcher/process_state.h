// Process-wide state, in one visible place. Start-up fills it in order and
// clears the context and VM host references after the run; natives read it.
#pragma once

#include <atomic>

namespace qlx {

struct LauncherContext;
class VmHost;
class InstanceChannel;
class ReceiverBridge;
class ServiceBridge;
class VmGate;

struct ProcessState {
  LauncherContext* context = nullptr;
  VmHost* vmHost = nullptr;
  InstanceChannel* instanceChannel = nullptr;  // attached by the instances subsystem
  ReceiverBridge* receiverBridge = nullptr;
  bool sameDestination = false;  // stdout and stderr go to the same file: print failures once
  int logNotOpened = 0;          // the message id when a log could not be opened
  int argc = 0;                  // command line after the program name, for the service runtime
  char** argv = nullptr;
  std::atomic<ServiceBridge*> serviceBridge{nullptr};  // the service status bridge
  std::atomic<VmGate*> vmGate{nullptr};                // what native threads enter the VM through
};

// On Linux a JVM that loads the launcher file as its native library maps a
// second copy of it; process_state_posix.cpp makes both copies share the
// state of the running program.
ProcessState& processState();

}  // namespace qlx
