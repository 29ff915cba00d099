// The launcher's own version, as its log lines name it: the tree's VERSION,
// given by the build.
#pragma once

namespace qlx {

#ifdef QLX_VERSION
inline constexpr char kLauncherVersion[] = QLX_VERSION;
#else
inline constexpr char kLauncherVersion[] = "unknown";
#endif

}  // namespace qlx
