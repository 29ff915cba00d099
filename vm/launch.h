// The VM launch sequence: environment, options, class path, discovery,
// creation, properties, version limits, the caller's hook and main().
#pragma once

#include <string>

#include "launcher/launcher_context.h"
#include "launcher/os.h"
#include "launcher/text.h"
#include "vm/vm_host.h"

namespace qlx {

// 0 when main was called and returned; kUncaughtExceptionExit when main
// ended with an exception (already described, as java does); else the
// reported message id (1, 2, 4, 5, 6, 7, 8, 12), already printed.
inline constexpr int kUncaughtExceptionExit = 1;

// `startHook` (may be null) runs once the VM exists, right before main.
int launchApplication(const StringList& firstArgs, void (*startHook)(),
                      const StringList& secondArgs);

// The same with everything passed in (used by the above and by tests).
int launchApplication(LauncherContext& context, VmHost& host, Os& os, const StringList& firstArgs,
                      void (*startHook)(), const StringList& secondArgs);

// java.version as the VM reports it; false when it cannot be asked.
bool javaVersionOf(JNIEnv* env, std::string& version);

// Elevation test: Windows token elevation (elevation_win.cpp), effective
// user root on Linux (elevation_posix.cpp).
bool isElevated();

}  // namespace qlx
