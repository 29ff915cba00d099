// The runtimes installers put on the machine (letter `v` of the search
// order): every Java home registered by the JavaSoft, IBM and vendor
// installers in both registry views of HKLM and HKCU, and on Linux the
// homes under /usr/lib/jvm. Of those that hold a VM library, the newest
// within `minjre`/`maxjre` wins.
#pragma once

#include <string>
#include <vector>

#include "launcher/launcher_context.h"
#include "launcher/os.h"

namespace qlx {

// Platform facts (discovery_win.cpp / discovery_posix.cpp): directories
// whose subdirectories are Java homes, each ending in a separator.
extern const char* const kRuntimeParentDirectories[];
extern const int kRuntimeParentDirectoryCount;

// JAVA_VERSION="..." of a home's `release` file; empty when there is none.
// NAME="..." of a `release` file's text, at the start of a line; empty when
// there is none.
std::string releaseField(const std::string& text, const std::string& name);
std::string releaseVersion(Os& os, const std::string& home);

// The numbers of a version text as java.version would give them, so that
// they compare with `minjre`/`maxjre` the way the check after creation
// does: installers name Java 2 to 8 by their major ("8.0.392.8"), the VM
// calls itself 1.8.0_392, so a leading 2..8 is read as 1.<n>.
std::vector<int> comparableVersion(const std::string& text);

// True when `a` is a newer version than `b` (missing numbers count as 0).
bool newerVersion(const std::vector<int>& a, const std::vector<int>& b);

// The VM library of the newest installed runtime within the limits, or empty.
std::string installedRuntime(LauncherContext& context, Os& os);

}  // namespace qlx
