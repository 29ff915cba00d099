// Java runtime discovery: the configured library, the runtime beside the
// program, the JavaSoft and IBM registry keys, JRE_HOME and JAVA_HOME and
// the installed runtimes (installed_runtimes.h), in the order of `jre_order`.
#pragma once

#include <string>

#include "launcher/launcher_context.h"
#include "launcher/os.h"

namespace qlx {

// Platform facts (discovery_win.cpp / discovery_posix.cpp): the library
// file name and the home subdirectories searched, in order.
extern const char* const kVmLibraryName;
extern const char* const kHomeSubdirectories[];
extern const int kHomeSubdirectoryCount;

// The search order: lower-cased `jre_order`, or "cbsiev" when it names no
// known source.
std::string searchOrder(const std::string& jreOrderValue);

std::string searchHome(LauncherContext& context, Os& os, const std::string& home);
std::string registryRuntime(LauncherContext& context, Os& os, const std::string& productKey);
std::string environmentRuntime(LauncherContext& context, Os& os);

// Full path of the VM library or empty. The outcome of the first call is
// kept in `cache` ("-" before any search).
std::string findVmLibrary(LauncherContext& context, Os& os, std::string& cache);
// The same with the process-wide cache.
std::string findVmLibrary(LauncherContext& context, Os& os);

}  // namespace qlx
