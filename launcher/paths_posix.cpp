// Path conventions of the Linux build.
#include "launcher/expand.h"
#include "launcher/text.h"

namespace qlx {

// Class path lists handed to a Linux JVM use ':' between entries.
const char kPathListSeparator = ':';

bool isNarrowLeadByte(unsigned char) { return false; }

}  // namespace qlx
