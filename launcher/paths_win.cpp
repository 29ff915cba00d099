// Path list separator of the Windows build (class path, `classpath` values).
#include "launcher/expand.h"

namespace qlx {

extern const char kPathListSeparator = ';';

}  // namespace qlx
