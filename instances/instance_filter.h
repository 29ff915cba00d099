// Which classes an instance accepts in objects that other processes send:
// the `instancefilter` configuration value, or by default the plain values
// applications commonly exchange and the classes of the application's own
// package. The Java support class InstanceFilter applies it.
#pragma once

#include <string>

namespace qlx {

// The filter in the JDK's pattern syntax: `configured` when it is not
// empty, else the default for the given main class.
std::string instanceFilterText(const std::string& configured, const std::string& mainClass);

}  // namespace qlx
