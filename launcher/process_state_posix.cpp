// Process-wide state on Linux (placeholder).
#include "launcher/process_state.h"
namespace qlx {
ProcessState& processState() { static ProcessState state; return state; }
}  // namespace qlx
