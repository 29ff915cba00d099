// Whether the process runs with an elevated token (placeholder).
#include "vm/launch.h"

namespace qlx {

bool isElevated() { return false; }

}  // namespace qlx
