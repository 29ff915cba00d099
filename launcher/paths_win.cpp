// Path conventions of the Windows build: the list separator of class
// paths and `classpath` values, and the ANSI code page's character rule.
#include "launcher/expand.h"
#include "launcher/text.h"
#include "launcher/win32.h"

namespace qlx {

extern const char kPathListSeparator = ';';

bool isNarrowLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace qlx
