// The launcher's own version, as its log lines name it.
#pragma once

namespace qlx {

inline constexpr char kLauncherVersion[] = "1.0";

}  // namespace qlx
