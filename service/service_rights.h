// The rights each command asks the Service Control Manager for: those of
// the calls it makes and no more, so an operator who may only query or only
// start a service can still do that much (the manager checks each right
// when the service is opened, not when it is used).
#pragma once

#include <cstdint>

#include "service/service_commands.h"

namespace qlx {

// The manager's access rights on a service, as its API numbers them.
enum ServiceRight : uint32_t {
  kRightQueryConfig = 0x0001,
  kRightChangeConfig = 0x0002,
  kRightQueryStatus = 0x0004,
  kRightStart = 0x0010,
  kRightStop = 0x0020,
  kRightPauseContinue = 0x0040,
  kRightDelete = 0x00010000,
};

// /start ... /status. Every one reads the state it waits for.
uint32_t commandRights(ServiceCommand command);
// /uninstall: the deletion, and the state it reports afterwards.
constexpr uint32_t kUninstallRights = kRightDelete | kRightQueryStatus;
// The handle /install gets back from creating the service: the settings
// beyond creation, and, for restarts after failures, the right to start it
// (the manager asks for it when failure actions restart the service).
uint32_t installRights(bool restartsOnFailure);

}  // namespace qlx
