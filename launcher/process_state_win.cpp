// The process-wide state of the Windows build. The JVM binds the natives to
// the executable that is already loaded, so one plain instance suffices.
#include "launcher/process_state.h"

namespace qlx {

namespace {
ProcessState gProcessState;
}  // namespace

ProcessState& processState() { return gProcessState; }

}  // namespace qlx
