// Elevation on Linux: the process runs with the rights of root.
#include <unistd.h>

#include "vm/launch.h"

namespace qlx {

bool isElevated() { return geteuid() == 0; }

}  // namespace qlx
