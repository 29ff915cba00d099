// Which classes an instance accepts in objects that other processes send:
// the `instancefilter` configuration value, or by default the plain values
// applications commonly exchange and the classes of the application's own
// package. The Java support class InstanceFilter applies it; the generator
// checks a configured value with instanceFilterProblem, which follows the
// same grammar (docs/java-api.md states it).
#pragma once

#include <string>

namespace qlx {

// The filter in the JDK's pattern syntax: `configured` when it is not
// empty, else the default for the given main class.
std::string instanceFilterText(const std::string& configured, const std::string& mainClass);

// Empty for a filter the receiver accepts; else what InstanceFilter would
// refuse it for: "bad pattern P", "bad limit L" or "no class pattern".
// In instance_filter_grammar.cpp, which the generator has and the stub not.
std::string instanceFilterProblem(const std::string& filter);

}  // namespace qlx
