// Class path assembly: the launcher file first, then java_classpath and
// java_libs, then classpath, libs, CLASSPATH and CLASS_PATH.
#pragma once

#include <string>

#include "launcher/launcher_context.h"
#include "launcher/os.h"

namespace qlx {

// Appends separator + path for every .jar/.zip below `directory`, depth
// first in listing order.
void collectArchives(Os& os, const std::string& directory, std::string& out);

// One half: second=false starts with the application path.
std::string assembleClassPath(const LauncherContext& context, Os& os, bool second);

// first half + separator + second half.
std::string buildClassPath(const LauncherContext& context, Os& os);

}  // namespace qlx
