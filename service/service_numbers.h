// The Service Control Manager's numbers for states, accepted controls and
// controls, shared by the runtime's status record and the commands that
// drive an installed service, so both speak the manager's values as they
// stand.
#pragma once

#include <cstdint>

namespace qlx {

enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};
enum ServiceAccept : uint32_t {
  kAcceptStop = 1,
  kAcceptPauseContinue = 2,
  kAcceptShutdown = 4,
  kAcceptPreshutdown = 0x100,
};
// What a running service always accepts: a system shutdown is a stop, and
// preshutdown gives it the time a stop needs rather than a few seconds.
constexpr uint32_t kAcceptStopControls = kAcceptStop | kAcceptShutdown | kAcceptPreshutdown;
enum ServiceControl : uint32_t {
  kControlStop = 1,
  kControlPause = 2,
  kControlContinue = 3,
  kControlInterrogate = 4,
  kControlShutdown = 5,
  kControlPreshutdown = 15,
};

}  // namespace qlx
