// The rights table of the commands.
#include "service/service_rights.h"

namespace qlx {

uint32_t commandRights(ServiceCommand command) {
  switch (command) {
    case ServiceCommand::Status: return kRightQueryStatus | kRightQueryConfig;
    case ServiceCommand::Start: return kRightQueryStatus | kRightStart;
    case ServiceCommand::Stop: return kRightQueryStatus | kRightStop;
    case ServiceCommand::Restart: return kRightQueryStatus | kRightStop | kRightStart;
    case ServiceCommand::Pause:
    case ServiceCommand::Continue: return kRightQueryStatus | kRightPauseContinue;
  }
  return kRightQueryStatus;
}

uint32_t installRights(bool restartsOnFailure) {
  return kRightChangeConfig | (restartsOnFailure ? uint32_t{kRightStart} : 0u);
}

}  // namespace qlx
