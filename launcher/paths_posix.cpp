// Path conventions of the Linux build.
#include "launcher/expand.h"

namespace qlx {

// Class path lists handed to a Linux JVM use ':' between entries.
const char kPathListSeparator = ':';

}  // namespace qlx
